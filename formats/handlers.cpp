#include "formats/handlers.h"

#include "formats/version_info.h"

namespace quelvar {

namespace {

constexpr uint32_t kMenuType = 4;         // RT_MENU
constexpr uint32_t kDialogType = 5;       // RT_DIALOG
constexpr uint32_t kStringTableType = 6;  // RT_STRING

constexpr HandlerEntry kHandlers[] = {
    {kMenuType, ProcessMenuResource},
    {kDialogType, ProcessDialogResource},
    {kStringTableType, ProcessStringTable},
    {kVersionType, ProcessVersionStrings},
};

}  // namespace

std::span<const HandlerEntry> ResourceHandlers() {
    return kHandlers;
}

}  // namespace quelvar
