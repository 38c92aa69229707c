// Parsing qvork's command line, and its help text.
#include "hosts/qvork/command_line.h"

#include "hosts/qvork/warc_export.h"

#include <cctype>
#include <set>

namespace qvork_host {

namespace {

struct OptionSpec {
    const char *name;     // as written, "--all" or "-C"
    bool takesValue;
    const char *command;  // the command it belongs to; nullptr: global
};

const OptionSpec kOptions[] = {
    {"--registry", true, nullptr},     {"--cache", true, nullptr},
    {"--plugin", true, nullptr},       {"--help", false, nullptr},
    {"-h", false, nullptr},            {"--all", false, "ls"},
    {"--yes", false, "rm"},            {"-y", false, "rm"},
    {"-C", true, "get"},               {"--dest", true, "get"},
    {"--disks-menu", true, "config"},  {"--plugins-menu", true, "config"},
    {"--digit", true, "config"},
    {"--all", false, "warc"},          {"-o", true, "warc"},
    {"--output", true, "warc"},        {"--cdxj", true, "warc"},
};

const std::set<std::string> kCommands = {"ls",   "get",    "header", "rm",  "warc",  "menus",
                                         "config", "panel", "open",   "help"};

const OptionSpec *FindOption(const std::string &name) {
    for (const OptionSpec &spec : kOptions) {
        if (name == spec.name) {
            return &spec;
        }
    }
    return nullptr;
}

// Whether an option of this name belongs to `command` (or is global).
bool OptionAllowed(const std::string &name, const std::string &command) {
    for (const OptionSpec &spec : kOptions) {
        if (name == spec.name && (spec.command == nullptr || command == spec.command)) {
            return true;
        }
    }
    return false;
}

bool ParseSwitch(const std::string &option, const std::string &value, std::optional<bool> &out,
                 std::string &error) {
    if (value == "on") {
        out = true;
    } else if (value == "off") {
        out = false;
    } else {
        error = option + " takes on or off, not '" + value + "'";
        return false;
    }
    return true;
}

bool ParseDigit(const std::string &value, std::optional<std::string> &out, std::string &error) {
    if (value == "auto") {
        out = std::string();
    } else if (value.size() == 1 && std::isdigit(static_cast<unsigned char>(value[0]))) {
        out = value;
    } else {
        error = "--digit takes a digit 1 to 9, or auto (0 is auto too), not '" + value + "'";
        return false;
    }
    return true;
}

bool ApplyOption(const OptionSpec &spec, const std::string &value, CommandLine &line,
                 std::string &error) {
    const std::string name = spec.name;
    if (name == "--registry") {
        line.registryFile = value;
    } else if (name == "--cache") {
        line.cacheFolder = value;
    } else if (name == "--plugin") {
        line.pluginFile = value;
    } else if (name == "--help" || name == "-h") {
        line.help = true;
    } else if (name == "--all") {
        line.all = true;
    } else if (name == "--yes" || name == "-y") {
        line.yes = true;
    } else if (name == "-o" || name == "--output") {
        line.output = value;
    } else if (name == "--cdxj") {
        line.cdxj = value;
    } else if (name == "-C" || name == "--dest") {
        line.destination = value;
    } else if (name == "--disks-menu") {
        return ParseSwitch(name, value, line.preset.disksMenu, error);
    } else if (name == "--plugins-menu") {
        return ParseSwitch(name, value, line.preset.pluginsMenu, error);
    } else if (name == "--digit") {
        return ParseDigit(value, line.preset.digit, error);
    }
    if (spec.takesValue && value.empty()) {
        error = name + " needs a non-empty value";
        return false;
    }
    return true;
}

// Operand counts and required options of each command.
bool CheckCommand(const CommandLine &line, std::string &error) {
    const size_t n = line.operands.size();
    const std::string &command = line.command;
    if (command.empty()) {
        return true; // the panel, or with --cache alone, storing the cache
    }
    if ((command == "ls" && n > 1) ||
        ((command == "menus" || command == "config" || command == "panel") && n > 0)) {
        error = command + " takes " + (command == "ls" ? "at most one PATH" : "no operands");
        return false;
    }
    if (command == "open" && n != 1) {
        error = "open takes exactly one PATH (a cache folder or a site file)";
        return false;
    }
    if (command == "header" && n != 1) {
        error = "header takes exactly one PATH (a file inside a site)";
        return false;
    }
    if ((command == "get" || command == "rm") && n == 0) {
        error = command + (command == "get" ? " needs at least one PATH" : " needs at least one SITE");
        return false;
    }
    if (command == "warc" && (n == 0) == !line.all) {
        error = "warc takes SITE... or --all, one of them";
        return false;
    }
    if (command == "warc" && !line.output) {
        error = "warc needs the archive to write: -o FILE.warc or FILE.warc.gz";
        return false;
    }
    if (command == "get" && !line.destination) {
        error = "get needs the destination folder: -C DEST";
        return false;
    }
    return true;
}

// "--name=value" and "-Cvalue" carry their value; true when `arg` did.
bool SplitOption(const std::string &arg, std::string &name, std::string &value) {
    const size_t equals = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
        name = arg.substr(0, equals);
        value = arg.substr(equals + 1);
        return true;
    }
    if (arg.compare(0, 2, "-C") == 0 && arg.size() > 2) {
        name = "-C";
        value = arg.substr(2);
        return true;
    }
    name = arg;
    value.clear();
    return false;
}

} // namespace

bool ParseCommandLine(int argc, char **argv, CommandLine &line, std::string &error) {
    line = CommandLine{};
    std::vector<const OptionSpec *> given;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (line.command.empty() && !optionsEnded) {
                if (kCommands.count(arg) == 0) {
                    error = "unknown command '" + arg + "'";
                    return false;
                }
                line.command = arg;
            } else {
                line.operands.push_back(arg);
            }
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name;
        std::string value;
        const bool attached = SplitOption(arg, name, value);
        const OptionSpec *spec = FindOption(name);
        if (spec == nullptr) {
            error = "unknown option '" + name + "'";
            return false;
        }
        if (spec->takesValue && !attached) {
            if (i + 1 >= argc) {
                error = name + " needs a value";
                return false;
            }
            value = argv[++i];
        } else if (!spec->takesValue && attached) {
            error = name + " takes no value";
            return false;
        }
        if (!ApplyOption(*spec, value, line, error)) {
            return false;
        }
        given.push_back(spec);
    }
    if (line.command == "help") {
        line.help = true;
    }
    if (line.help) {
        return true;
    }
    for (const OptionSpec *spec : given) {
        if (!OptionAllowed(spec->name, line.command)) {
            error = std::string(spec->name) + " is an option of " + spec->command;
            return false;
        }
    }
    return CheckCommand(line, error);
}

std::string HelpText(const std::string &registryFile) {
    return R"(qvork - the NetSonic web cache as the qVORK plug-in shows it, from the command line

qvork loads the plug-in module (qvork.so) as the file manager loads a panel
plug-in and calls its entry points: the cache root lists one folder per site,
a site lists the folders and files of its stored URLs.

Usage:
  qvork [GLOBAL OPTIONS] [panel]
  qvork [GLOBAL OPTIONS] COMMAND [OPTIONS] [OPERANDS]
  qvork --help

Commands:
  panel                  (also: no command) On a terminal, open the panel: the
                         cache as the file manager shows the plug-in's panel.
                         Keys: arrows, PgUp/PgDn, Home/End move; Enter opens a
                         site or folder ("..": up); Ctrl+\ goes to the site's
                         top; Insert or Space selects; F3 shows a file's body;
                         Shift+F3 its stored header; F5 copies the selected
                         items (or the current one) to a folder you give; F8
                         deletes the selected sites; Ctrl+R reads the cache
                         again; F9 opens the settings; F1 shows the help
                         (qVORK.hlf beside the module); F10 (asks) or q
                         quits. Backspace or Ctrl+PgUp goes up one folder;
                         typing letters (or Alt+letters) moves to the first
                         name that starts with them. ~ in the copy dialog is
                         your home folder.
  open PATH              On a terminal, open the panel on PATH without the
                         registry, as "vork:PATH" on the file manager's
                         command line does: the folder that holds icache,
                         the icache folder itself, or one site file (".."
                         at its top folder closes the panel).
  ls [--all] [PATH]      List the cache root, or a folder inside a site.
                         Root rows: site name, stored responses, size of the
                         cache file, cache file name ("-" when the file is not
                         a readable site). Site rows: name, file or folder, size.
                         --all also lists sites deleted in this run, marked.
  get PATH... -C DEST    Copy files, folders or whole sites into folder DEST
                         (created if missing). All PATHs must lie in the same
                         folder. Failed items are named; exit status 1 then.
  header PATH            Print the stored HTTP response header of a file.
  rm [--yes] SITE...     Delete whole sites, that is their cache files. The
                         plug-in asks "Delete N site(z)." Yes/No: on a terminal
                         you answer it; --yes answers Yes; without a terminal
                         and without --yes the answer is No.
)" + std::string(kWarcHelp) + R"(  menus                  Show the entries qVORK offers the Disks menu (with its
                         hotkey digit), the Plugins menu and the configuration
                         menu.
  config [SETTINGS]      Open the settings dialog. On a terminal you change the
                         items and choose Ok or Cancel. With any of these
                         settings the dialog is filled and Ok pressed:
                           --disks-menu on|off    list qVORK in the Disks menu
                           --plugins-menu on|off  list qVORK in the Plugins menu
                           --digit N|auto         Disks-menu hotkey digit 1-9
                         Without a terminal and without settings it prints the
                         dialog and cancels.
  help                   This text.

PATH:
  A site name as "qvork ls" shows it, then folder and file names below it,
  separated by "/": www.example.com/img/logo.gif. A site name may itself hold
  "/"; the longest site name the PATH starts with is taken. A final "/" lists
  the folder (or a file's children); quote names with spaces or "?".

Global options (before or after the command):
  --registry FILE   The registry file to use for this run (sets QVORK_REGISTRY).
  --cache DIR       Store DIR as the NetSonic cache location ("CachePath") in
                    the registry file in use; the sites are read from
                    DIR/icache/cache1, cache2, ... Alone, it only stores it.
  --cache FILE      A site file (cache7): ls, get, header and panel open it as
                    the file manager opens a site file from a file panel;
                    PATHs then start at the site's top folder (no site
                    name). Nothing is stored.
  --plugin FILE     The plug-in module to load (default: qvork.so beside the
                    qvork program; or the QVORK_MODULE environment variable).
  -h, --help        This text.

Registry file:
  On Linux the registry is a REGEDIT4 text file: --registry FILE, else
  $QVORK_REGISTRY, else $XDG_CONFIG_HOME/qvork/registry.reg, else
  ~/.config/qvork/registry.reg. In use now: )" +
           registryFile + R"(
  The cache location is the value "CachePath" under
  HKEY_LOCAL_MACHINE\SOFTWARE\web3000\netsonic; the plug-in's settings are
  under HKEY_CURRENT_USER\Software\qvork\Plugins\Q\VORK.

Exit status:
  0 success, 1 an operation failed (a message says which), 2 usage error.

Examples:
  qvork --registry /tmp/r.reg --cache ~/netsonic ls
  qvork --registry /tmp/r.reg panel
  qvork ls 'www.example.com/img/icons'
  qvork get 'www.example.com/img' 'www.example.com/a.html' -C out/
  qvork get 'www.example.com' -C out/
  qvork header 'www.example.com/a.html'
  qvork open /mnt/old/netsonic
  qvork --cache /mnt/old/netsonic/icache/cache7 get img/logo.gif -C out/
  qvork rm --yes 'www.example.com'
  qvork warc 'www.example.com' cache7 -o sites.warc.gz --cdxj sites.cdxj
  qvork config --disks-menu off --plugins-menu on --digit 7
)";
}

} // namespace qvork_host
