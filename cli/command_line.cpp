// quelvar-cli's command line: the commands and their options declared once with CLI11, the
// usage errors said in one line, and the completion scripts of bash and zsh generated from the
// declaration.
#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <set>

#include "base/number.h"

namespace quelvar::cli {

namespace {

// What `quelvar-cli --help` prints: every command and option at a glance. The manual page names
// the same options (a test compares them).
const char kOverview[] =
    "usage: quelvar-cli export IMAGE [LANGFILE] [--language ID] [--format po|lng] [-q]\n"
    "       quelvar-cli export --source ORIGINAL IMAGE [POFILE] [--language ID]\n"
    "                          [--lang-id ID] [-q]\n"
    "       quelvar-cli export --batch --out DIR IMAGE|FOLDER... [--format po|lng] [-j N]\n"
    "                          [--language ID] [-q]\n"
    "       quelvar-cli import IMAGE LANGFILE [-o OUTPUT] [--language ID] [--format po|lng]\n"
    "                          [--lang-id ID] [--add-language] [--rtl | --no-rtl]\n"
    "                          [--fuzzy] [--strict [--layout]] [--unsign] [-q]\n"
    "       quelvar-cli import --batch --from DIR IMAGE|FOLDER... [-o OUTDIR] [-j N]\n"
    "                          [--format po|lng] [--language ID] [--lang-id ID]\n"
    "                          [--add-language] [--rtl | --no-rtl] [--fuzzy] [--unsign]\n"
    "                          [-q]\n"
    "       quelvar-cli convert FROM TO [--image IMAGE] [--fuzzy] [-q]\n"
    "       quelvar-cli check IMAGE TRANSLATION [--language ID] [--format text|json]\n"
    "                         [--layout [--font-dir DIR] [--dpi 96|120|144|192]\n"
    "                         [--html REPORT.html]]\n"
    "       quelvar-cli preview IMAGE [TRANSLATION] -o OUT.png|OUT.svg [--dialog ID]\n"
    "                         [--language ID] [--font-dir DIR] [--dpi 96|120|144|192] [-q]\n"
    "       quelvar-cli pseudo IMAGE OUT.lng|OUT.po [--expand PERCENT] [--language ID] [-q]\n"
    "       quelvar-cli -h | --help | --version | --completions bash|zsh\n"
    "\n"
    "export  writes every text of the image's string tables, menus and dialogs into a\n"
    "        language file (UTF-16, one key=value line per text). LANGFILE defaults to\n"
    "        the image's path with the extension .lng.\n"
    "import  rebuilds the image's resources with the values of LANGFILE. Without -o the\n"
    "        new image is written to IMAGE.QN, which then takes the place of IMAGE; with\n"
    "        -o it is written to OUTPUT and IMAGE is left as it is.\n"
    "check   compares a translation with the image's texts: accelerator letters used\n"
    "        twice in one menu level or dialog, placeholders lost or reordered, shortcut\n"
    "        tabs, menu shortcuts that their accelerator tables do not give, line breaks,\n"
    "        blanks, punctuation, lengths, fonts, unknown keys. One\n"
    "        finding a line (file:line: error|warning: key: message), then a summary;\n"
    "        exit status 1 when any is an error. --format json for tools.\n"
    "        --layout also measures every dialog as Windows lays it out and judges the\n"
    "        translation against the source: text clipped in its control, a wrapped\n"
    "        text with more lines than its height holds, a control or text beyond the\n"
    "        dialog, text crowded within 10 % of its width (a warning). What the source\n"
    "        has already is said once, as the source's (a warning). --font-dir DIR: a\n"
    "        copy of a Windows Fonts folder; without it, stand-ins (Wine's Tahoma,\n"
    "        Liberation Sans, Noto). --dpi: the screen resolution, 96 by default.\n"
    "        --html REPORT.html also writes one page with every dialog's picture (the\n"
    "        source left, the translation right, failing controls outlined in red)\n"
    "        and its findings, the list of findings linking to the dialogs.\n"
    "preview draws each dialog (or --dialog ID) as Windows lays it out, the\n"
    "        translation beside the source, controls whose text does not fit outlined\n"
    "        in red, into a PNG or SVG picture. Several dialogs go one a file, named\n"
    "        OUT-<dialog>-<language>.png (or .svg).\n"
    "pseudo  writes a pseudo-translation of every text (accented look-alikes in brackets,\n"
    "        padded by --expand percent, 35 by default) for the pseudo-locale 0x0501\n"
    "        (qps-ploc): a language file, or a PO file whose msgstrs they are.\n"
    "--language ID  export only the texts of resources in language ID (decimal, such as\n"
    "        1033, or hexadecimal with 0x, such as 0x409); import translates only those\n"
    "        resources and copies the other languages unchanged. An import translates\n"
    "        one source language: --language, the PO header's, else the image's only\n"
    "        one (language-neutral resources go with it); several are refused.\n"
    "--format po|lng  the format of LANGFILE; by default a gettext PO file when its name\n"
    "        ends in .po or .pot, else a language file. A PO file holds the texts of one\n"
    "        source language: --language, the image's only one, else English (1033) when\n"
    "        present, else the one of most texts. Import reads the source language from\n"
    "        the PO header and the new language id from its Language field.\n"
    "--lang-id ID  import: the language id the translated resources receive, over LANG=\n"
    "        or the PO Language field. export --source: the translated build's language.\n"
    "--add-language  import: keep every resource as it is and add the translation\n"
    "        beside it under the target language id (LANG=, the PO Language field or\n"
    "        --lang-id), so that Windows shows each user their language. The copies are\n"
    "        made from --language ID, else the PO source language, else the image's\n"
    "        only language; an existing resource of the target language is replaced.\n"
    "--rtl, --no-rtl  import: give every translated dialog the right-to-left layout\n"
    "        (WS_EX_LAYOUTRTL), or leave the dialogs' extended styles as they are. By\n"
    "        default a dialog receives it with a new language id written right to left\n"
    "        (Arabic, Hebrew, Persian, Urdu, ...).\n"
    "--fuzzy  apply fuzzy PO translations too (they are skipped by default).\n"
    "--source ORIGINAL  export: harvest a translated build IMAGE into a PO file, msgids\n"
    "        from ORIGINAL, msgstrs from IMAGE (POFILE defaults to IMAGE's path with .po).\n"
    "--batch  export or import many images: each IMAGE, and every file below each FOLDER\n"
    "        that begins with \"MZ\" or is a .res file (links are not followed). Export\n"
    "        writes one file an image into --out DIR, named by the image's path below its\n"
    "        FOLDER (an IMAGE's file name) with .lng or .po (--format) appended:\n"
    "        sub/app.exe gives DIR/sub/app.exe.lng. Import reads the file of that name\n"
    "        from --from DIR and translates the image in place, or writes it to OUTDIR\n"
    "        under its path (-o).\n"
    "        Images without resources, and on import without a file, are skipped. A\n"
    "        progress line on a terminal, one line an image otherwise, then a summary and\n"
    "        every failure; exit status 1 when any image failed.\n"
    "-j N    --batch: work on N images at once (default: one a processor).\n"
    "convert  turns a language file into a PO file (the msgids from --image IMAGE) or a\n"
    "        PO file into a language file.\n"
    "--strict  import: refuse a translation in which check finds errors, a text too\n"
    "        long for its string table entry among them (they are said as errors, and\n"
    "        without --strict the import goes on). With --layout, the dialogs' layout\n"
    "        is checked too (as check --layout) and its errors refuse the import.\n"
    "--unsign  import: remove the signature (the certificate table) of a signed image,\n"
    "        which no longer matches once translated; sign the new image again with\n"
    "        osslsigncode sign (or signtool sign) instead to keep it signed.\n"
    "-q      says nothing on success (the status line goes to standard error).\n"
    "LANGFILE - is standard output for export and standard input for import.\n"
    "IMAGE may also be a compiled resource file (.res, as rc, windres -O res and\n"
    "        llvm-rc write it), recognised by its content; import writes a .res.\n"
    "--completions bash|zsh  prints the shell's completion script for quelvar-cli.\n"
    "An option that takes a value is given once; also written --language=1033 or -j4.\n"
    "quelvar-cli COMMAND --help says the options of one command.\n";

constexpr const char* kCommands[] = {"export", "import", "convert", "check", "preview", "pseudo"};

// The declared command line, with what completion needs beyond CLI11's own record: the words
// an option's value is one of, and the options whose value is no file name.
struct Declared {
    CLI::App app{"", "quelvar-cli"};
    std::map<const CLI::Option*, std::vector<std::string>> choices;
    std::set<const CLI::Option*> notFiles;
    std::vector<std::string> paths;  // the positional words of the command
    bool help = false;
    bool version = false;
    std::string shell;  // --completions
};

// A validator whose failure CLI11 says after the option's name: "--language: not a language
// id: x".
CLI::Validator Checked(std::function<bool(const std::string&)> good, std::string problem) {
    return CLI::Validator(
        [good = std::move(good), problem = std::move(problem)](std::string& text) {
            return good(text) ? std::string() : problem + ": " + text;
        },
        "");
}

bool IsLanguageId(const std::string& text) {
    uint32_t id = 0;
    return ParseLanguageId(std::string_view(text), id);
}

uint32_t LanguageId(const std::string& text) {
    uint32_t id = 0;
    ParseLanguageId(std::string_view(text), id);
    return id;
}

// A decimal number from `low` to `high`, as the old parser read them: no sign, no 0x.
std::optional<unsigned> Decimal(const std::string& text, unsigned low, unsigned high) {
    ScannedInteger n = ScanInteger(std::string_view(text), IntegerSyntax{});
    if (!n.digits || n.overflow || n.end != text.size() || n.magnitude < low || n.magnitude > high)
        return std::nullopt;
    return static_cast<unsigned>(n.magnitude);
}

// Declares the options of one command, each bound to `run`.
class Command {
  public:
    Command(Declared& d, Invocation& run, const char* name, const char* synopsis)
        : d_(d), run_(run), app_(d.app.add_subcommand(name, synopsis)) {
        app_->set_help_flag("-h,--help", "say the options of this command");
        // A word beginning with '/' is a path (Wine passes Unix paths so), never an option.
        app_->allow_windows_style_options(false);
        app_->add_option("files", d.paths, "the files the command works on")->type_name("");
    }

    // An option of one value, the value read by `take`.
    CLI::Option* Value(const char* names, const char* description, const char* type,
                       std::function<void(const std::string&)> take) {
        return app_->add_option_function<std::string>(names, std::move(take), description)
            ->type_name(type);
    }
    void Path(const char* names, const char* description,
              std::optional<std::filesystem::path>& target) {
        Value(names, description, "PATH", [&target](const std::string& s) { target = ToPath(s); });
    }
    void Language(const char* description) {
        d_.notFiles.insert(
            Value("--language", description, "ID", [&run = run_](const std::string& s) {
                run.language = LanguageId(s);
            })->check(Checked(IsLanguageId, "not a language id")));
    }
    void LangId(const char* description) {
        d_.notFiles.insert(
            Value("--lang-id", description, "ID", [&run = run_](const std::string& s) {
                run.langId = LanguageId(s);
            })->check(Checked(IsLanguageId, "not a language id")));
    }
    void Format(const char* description, std::vector<std::string> values) {
        std::string names;
        for (const std::string& v : values)
            names += (names.empty() ? "" : "|") + v;
        auto known = [values](const std::string& s) {
            return std::find(values.begin(), values.end(), s) != values.end();
        };
        CLI::Option* o =
            Value("--format", description, names.c_str(), [&run = run_](const std::string& s) {
                run.format = s;
            })->check(Checked(known, "not " + names));
        d_.choices[o] = std::move(values);
    }
    void Number(const char* names, const char* description, unsigned low, unsigned high,
                unsigned& target) {
        std::string range = "a number from " + std::to_string(low) + " to " + std::to_string(high);
        auto good = [low, high](const std::string& s) { return Decimal(s, low, high).has_value(); };
        d_.notFiles.insert(
            Value(names, description, "N", [&target, low, high](const std::string& s) {
                target = *Decimal(s, low, high);
            })->check(Checked(good, "not " + range)));
    }
    CLI::Option* Flag(const char* names, const char* description, bool& target) {
        return app_->add_flag(names, target, description);
    }
    void Quiet() { Flag("-q", "say nothing on success", run_.quiet); }
    void Batch(bool exporting) {
        Flag("--batch", "work on many images: each IMAGE and the images below each FOLDER",
             run_.batch);
        Path(exporting ? "--out" : "--from",
             exporting ? "--batch: the folder the language files are written to"
                       : "--batch: the folder the language files are read from",
             run_.textFolder);
        Number("-j", "--batch: work on N images at once (default: one a processor)", 1, 256,
               run_.threads);
    }

  private:
    Declared& d_;
    Invocation& run_;
    CLI::App* app_;
};

void Declare(Declared& d, Invocation& run) {
    CLI::App& app = d.app;
    app.set_help_flag();
    app.allow_windows_style_options(false);
    app.add_flag("-h,--help", d.help, "say every command and option");
    app.add_flag("--version", d.version, "say the version");
    CLI::Option* shell = app.add_option("--completions", d.shell, "print a completion script");
    shell->check(CLI::IsMember({"bash", "zsh"}));
    d.choices[shell] = {"bash", "zsh"};
    app.require_subcommand(0, 1);

    Command exp(d, run, "export",
                "export IMAGE [LANGFILE]: write the texts of IMAGE into a language file or a PO "
                "file; export --source ORIGINAL IMAGE [POFILE]: harvest a translated build; "
                "export --batch --out DIR IMAGE|FOLDER...: many images");
    exp.Language("only the texts of resources in language ID (1033, 0x409)");
    exp.Format("the format of LANGFILE (default: by its extension, .po or .pot for PO)",
               {"po", "lng"});
    exp.Path("--source", "harvest: the original build the msgids come from", run.source);
    exp.LangId("--source: the translated build's language");
    exp.Batch(true);
    exp.Quiet();

    Command imp(d, run, "import",
                "import IMAGE LANGFILE: rebuild the resources of IMAGE with the translation "
                "(in place, or into -o OUTPUT); import --batch --from DIR IMAGE|FOLDER...: many "
                "images");
    imp.Path("-o", "write the new image here (--batch: into this folder) and keep IMAGE",
             run.output);
    imp.Language("translate only the resources in language ID (1033, 0x409)");
    imp.Format("the format of LANGFILE (default: by its extension, .po or .pot for PO)",
               {"po", "lng"});
    imp.LangId("the language id the translated resources receive");
    imp.Flag("--add-language", "add the translation beside the resources it translates",
             run.addLanguage);
    CLI::Option* rtl = imp.Flag("--rtl", "lay every translated dialog out right to left", run.rtl);
    imp.Flag("--no-rtl", "leave the dialogs' layout as it is", run.noRtl)->excludes(rtl);
    imp.Flag("--fuzzy", "apply fuzzy PO translations too", run.fuzzy);
    imp.Flag("--strict", "refuse a translation in which check finds errors", run.strict);
    imp.Flag("--unsign", "remove the signature of a signed image", run.unsign);
    imp.Flag("--layout", "--strict: check the dialogs' layout too", run.layout);
    imp.Batch(false);
    imp.Quiet();

    Command convert(d, run, "convert",
                    "convert FROM TO: turn a language file into a PO file (the msgids from "
                    "--image) or a PO file into a language file");
    convert.Path("--image", "the image whose texts are the msgids", run.image);
    convert.Language("the msgids from the resources in language ID");
    convert.Flag("--fuzzy", "take fuzzy PO translations too", run.fuzzy);
    convert.Quiet();

    Command check(d, run, "check",
                  "check IMAGE TRANSLATION: compare a translation with the image's texts; one "
                  "finding a line, exit status 1 when any is an error");
    check.Language("check against the resources in language ID (1033, 0x409)");
    check.Format("how findings are written (default: text)", {"text", "json"});
    check.Flag("--layout", "measure every dialog and judge the translation's layout", run.layout);
    check.Path("--font-dir", "--layout: a copy of a Windows Fonts folder", run.fontDir);
    check.Number("--dpi", "--layout: the screen resolution (96, 120, 144 or 192)", 96, 192,
                 run.dpi);
    check.Path("--html", "--layout: also write a page of every dialog's pictures and findings",
               run.html);

    Command preview(d, run, "preview",
                    "preview IMAGE [TRANSLATION] -o OUT.png|OUT.svg: draw each dialog as Windows "
                    "lays it out, the translation beside the source");
    preview.Path("-o", "the picture (PNG or SVG; several dialogs: OUT-<dialog>-<language>)",
                 run.output);
    preview.Value("--dialog", "draw only this dialog (its number or name)", "ID",
                  [&run](const std::string& s) { run.dialog = s; });
    preview.Language("the dialogs in language ID (1033, 0x409)");
    preview.Path("--font-dir", "a copy of a Windows Fonts folder", run.fontDir);
    preview.Number("--dpi", "the screen resolution (96, 120, 144 or 192)", 96, 192, run.dpi);
    preview.Quiet();

    Command pseudo(d, run, "pseudo",
                   "pseudo IMAGE OUT.lng|OUT.po: write a pseudo-translation of every text for "
                   "the pseudo-locale 0x0501");
    pseudo.Number("--expand", "pad every text by this many percent (default 35)", 0, 1000,
                  run.expand);
    pseudo.Language("only the texts of resources in language ID (1033, 0x409)");
    pseudo.Quiet();
}

// --- Completion scripts ---

struct OptionFacts {
    std::vector<std::string> names;  // "-o", "--language"
    std::string description;
    bool value = false;                // takes a value
    bool file = false;                 // the value is a file or folder
    std::vector<std::string> choices;  // the words the value is one of
};

std::vector<OptionFacts> Facts(const Declared& d, const CLI::App& app) {
    std::vector<OptionFacts> facts;
    for (const CLI::Option* o : app.get_options()) {
        if (!o->nonpositional())
            continue;
        OptionFacts f;
        for (const std::string& s : o->get_snames())
            f.names.push_back("-" + s);
        for (const std::string& l : o->get_lnames())
            f.names.push_back("--" + l);
        f.description = o->get_description();
        f.value = o->get_expected_max() > 0;
        auto c = d.choices.find(o);
        if (c != d.choices.end())
            f.choices = c->second;
        f.file = f.value && c == d.choices.end() && !d.notFiles.count(o);
        facts.push_back(std::move(f));
    }
    return facts;
}

std::string Joined(const std::vector<std::string>& words, const char* between = " ") {
    std::string text;
    for (const std::string& w : words)
        text += (text.empty() ? "" : between) + w;
    return text;
}

std::string BashCompletions(const Declared& d) {
    std::string valueCases, optionCases;
    auto add = [&](const std::string& command, const std::vector<OptionFacts>& facts) {
        std::vector<std::string> all;
        for (const OptionFacts& f : facts) {
            all.insert(all.end(), f.names.begin(), f.names.end());
            if (!f.value)
                continue;
            std::string patterns;
            for (const std::string& n : f.names)
                patterns += (patterns.empty() ? "" : "|") + command + ":" + n;
            valueCases += "        " + patterns + ")\n            ";
            if (!f.choices.empty())
                valueCases += "COMPREPLY=($(compgen -W \"" + Joined(f.choices) +
                              "\" -- \"$cur\"))\n            ";
            else if (f.file)
                valueCases += "COMPREPLY=($(compgen -f -- \"$cur\"))\n            ";
            valueCases += "return ;;\n";
        }
        if (command.empty())
            all.insert(all.end(), std::begin(kCommands), std::end(kCommands));
        optionCases += "        " + (command.empty() ? std::string("''") : command) +
                       ") options=\"" + Joined(all) + "\" ;;\n";
    };
    add("", Facts(d, d.app));
    for (const char* command : kCommands)
        add(command, Facts(d, *d.app.get_subcommand(command)));
    return "# bash completion for quelvar-cli (written by quelvar-cli --completions bash)\n"
           "_quelvar_cli() {\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
           "    local command='' options='' i\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        case ${COMP_WORDS[i]} in\n"
           "        " +
           Joined(std::vector<std::string>(std::begin(kCommands), std::end(kCommands)), "|") +
           ") command=${COMP_WORDS[i]}; break ;;\n"
           "        esac\n"
           "    done\n"
           "    # --opt=value: bash splits the word at '='.\n"
           "    if [[ $cur == = ]]; then\n"
           "        cur=''\n"
           "    elif [[ $prev == = ]]; then\n"
           "        prev=${COMP_WORDS[COMP_CWORD-2]}\n"
           "    fi\n"
           "    COMPREPLY=()\n"
           "    case $command:$prev in\n" +
           valueCases +
           "    esac\n"
           "    case $command in\n" +
           optionCases +
           "    esac\n"
           "    if [[ $cur == -* || -z $command ]]; then\n"
           "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
           "    else\n"
           "        COMPREPLY=($(compgen -f -- \"$cur\"))\n"
           "    fi\n"
           "}\n"
           "complete -o filenames -F _quelvar_cli quelvar-cli\n";
}

// A description as zsh's _arguments takes it in brackets inside single quotes.
std::string ZshText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else if (c == '[' || c == ']' || c == ':' || c == '\\')
            out += std::string("\\") + c;
        else
            out += c;
    }
    return out;
}

std::string ZshSpecs(const std::vector<OptionFacts>& facts) {
    std::string specs;
    for (const OptionFacts& f : facts) {
        std::string action = !f.value             ? ""
                             : !f.choices.empty() ? ":value:(" + Joined(f.choices) + ")"
                             : f.file             ? ":file:_files"
                                                  : ":value: ";
        std::string exclusive = f.names.size() > 1 ? "(" + Joined(f.names) + ")" : "";
        for (const std::string& n : f.names) {
            // A long option's value follows '=' or stands in the next word; a short one's
            // follows at once or in the next word.
            std::string form = !f.value ? n : n.rfind("--", 0) == 0 ? n + "=" : n + "+";
            specs += "        '" + exclusive + form + "[" + ZshText(f.description) + "]" + action +
                     "' \\\n";
        }
    }
    return specs;
}

std::string ZshCompletions(const Declared& d) {
    std::string commands, cases;
    for (const char* command : kCommands) {
        const CLI::App* app = d.app.get_subcommand(command);
        std::string about = app->get_description();
        about = about.substr(0, about.find(':'));  // the synopsis's first words
        std::string quoted;                        // _describe takes "name:description"
        for (char c : about)
            quoted += c == '\'' ? "'\\''" : c == ':' ? "\\:" : std::string(1, c);
        commands += "        '" + std::string(command) + ":" + quoted + "'\n";
        cases += std::string("    ") + command + ")\n        _arguments -s -S \\\n" +
                 ZshSpecs(Facts(d, *app)) + "        '*:file:_files' ;;\n";
    }
    return "#compdef quelvar-cli\n"
           "# zsh completion for quelvar-cli (written by quelvar-cli --completions zsh)\n"
           "_quelvar-cli() {\n"
           "    local -a commands\n"
           "    commands=(\n" +
           commands +
           "    )\n"
           "    if (( CURRENT == 2 )); then\n"
           "        _arguments \\\n" +
           ZshSpecs(Facts(d, d.app)) +
           "        '1:command:_describe command commands'\n"
           "        return\n"
           "    fi\n"
           "    words=(${words[2,-1]})\n"
           "    (( CURRENT-- ))\n"
           "    case $words[1] in\n" +
           cases +
           "    esac\n"
           "}\n"
           "_quelvar-cli \"$@\"\n";
}

}  // namespace

int Usage(std::string_view command, std::string_view problem) {
    std::string help =
        command.empty() ? "quelvar-cli --help" : "quelvar-cli " + std::string(command) + " --help";
    std::fprintf(stderr, "quelvar-cli: %.*s%s%.*s\nSee '%s'.\n", static_cast<int>(command.size()),
                 command.data(), command.empty() ? "" : ": ", static_cast<int>(problem.size()),
                 problem.data(), help.c_str());
    return kExitUsage;
}

std::optional<int> ParseCommandLine(const std::vector<std::string>& args, Invocation& run) {
    if (args.empty())
        return Usage("", "a command is needed: export, import, convert, check or pseudo");
    const std::string& first = args[0];
    if (first.empty() || first[0] != '-') {
        if (std::find(std::begin(kCommands), std::end(kCommands), first) == std::end(kCommands))
            return Usage("", "unknown command " + first);
    }
    Declared d;
    Declare(d, run);
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // as CLI11 reads them
    try {
        d.app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        std::fputs(d.app.help().c_str(), stdout);
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        std::vector<CLI::App*> chosen = d.app.get_subcommands();
        std::string problem = e.what();
        // CLI11 says a repeated option as "--language: At Most 1 required but received 2".
        if (size_t at = problem.find(": At Most 1 required"); at != std::string::npos)
            problem = problem.substr(0, at) + " is given more than once";
        return Usage(chosen.empty() ? "" : chosen[0]->get_name(), problem);
    }
    std::vector<CLI::App*> chosen = d.app.get_subcommands();
    if (chosen.empty()) {
        if (d.help) {
            std::fputs(kOverview, stdout);
        } else if (d.version) {
            std::printf("quelvar-cli %s\n", QUELVAR_VERSION);
        } else if (!d.shell.empty()) {
            std::fputs((d.shell == "bash" ? BashCompletions(d) : ZshCompletions(d)).c_str(),
                       stdout);
        } else {
            return Usage("", "a command is needed: export, import, convert, check or pseudo");
        }
        return kExitOk;
    }
    if (d.help || d.version || !d.shell.empty())
        return Usage("", "--help, --version and --completions stand alone");
    run.command = chosen[0]->get_name();
    for (const std::string& p : d.paths)
        run.paths.push_back(ToPath(p));
    return std::nullopt;
}

}  // namespace quelvar::cli
