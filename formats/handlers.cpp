#include "formats/handlers.h"

#include "formats/accelerator.h"
#include "formats/version_info.h"

namespace quelvar {

namespace {

constexpr uint32_t kMenuType = 4;           // RT_MENU
constexpr uint32_t kDialogType = 5;         // RT_DIALOG
constexpr uint32_t kStringTableType = 6;    // RT_STRING
constexpr uint32_t kMessageTableType = 11;  // RT_MESSAGETABLE

constexpr HandlerEntry kHandlers[] = {
    {kMenuType, ProcessMenuResource, "MENU"},
    {kDialogType, ProcessDialogResource, "DIALOG"},
    {kStringTableType, ProcessStringTable, "STRINGTABLE"},
    {kAcceleratorType, ProcessAcceleratorTable, "ACCELERATORS"},
    {kMessageTableType, ProcessMessageTable, "MESSAGETABLE"},
    {kVersionType, ProcessVersionStrings, "VERSIONINFO"},
};
}  // namespace

std::span<const HandlerEntry> ResourceHandlers() {
    return kHandlers;
}

}  // namespace quelvar
