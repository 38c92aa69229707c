// Parsing qvork's command line (CLI11), and its help text.
#include "hosts/qvork/command_line.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cstring>
#include <map>

#include "hosts/qvork/warc_export.h"

#include "host/netsonic.h"

namespace qvork_host {

namespace {

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

// Operand counts of each command.
bool CheckCommand(const CommandLine &line, std::string &error) {
    const size_t n = line.operands.size();
    const std::string &command = line.command;
    if ((command == "ls" && n > 1) ||
        ((command == "menus" || command == "config" || command == "panel") && n > 0)) {
        error = command + " takes " + (command == "ls" ? "at most one PATH" : "no operands");
        return false;
    }
    if (command == "open" && n != 1) {
        error = "open takes exactly one PATH (a cache folder or a site file)";
        return false;
    }
    if ((command == "header" || command == "cat") && n != 1) {
        error = command + " takes exactly one PATH (a file inside a site)";
        return false;
    }
    if (command == "get" && n > 0 && line.all) {
        error = "get takes PATH... or --all, not both";
        return false;
    }
    if ((command == "get" || command == "rm") && n == 0 && !line.all) {
        error = command + (command == "get" ? " needs at least one PATH" : " needs at least one SITE");
        return false;
    }
    for (const char *value : {"-C", "--manifest", "--cache", "-o", "--cdxj"}) {
        const std::string name = value;
        const bool empty = (name == "-C" && line.destination.empty()) ||
                           (name == "-o" && line.output && line.output->empty()) ||
                           (name == "--cdxj" && line.cdxj && line.cdxj->empty()) ||
                           (name == "--manifest" && line.manifest && line.manifest->empty()) ||
                           (name == "--cache" && line.storeCache && line.storeCache->empty());
        if (empty) {
            error = name + " needs a non-empty value";
            return false;
        }
    }
    if (command == "warc" && (n == 0) == !line.all) {
        error = "warc takes SITE... or --all, one of them";
        return false;
    }
    if (command == "warc" && !line.output) {
        error = "warc needs the archive to write: -o FILE.warc or FILE.warc.gz";
        return false;
    }
    return true;
}

// What CLI11 left over, said as qvork says it: an option of another command,
// an unknown option, an unknown command.
std::string ExtrasMessage(const CLI::App &app, const std::string &command,
                          const std::string &extra) {
    if (extra.size() > 1 && extra[0] == '-') {
        const std::string name = extra.substr(0, extra.find('='));
        for (const CLI::App *sub : app.get_subcommands({})) {
            if (sub->get_name() != command && sub->get_option_no_throw(name) != nullptr) {
                return name + " is an option of " + sub->get_name();
            }
        }
        return "unknown option '" + name + "'";
    }
    if (command.empty()) {
        return "unknown command '" + extra + "'";
    }
    return command + " takes no operands";
}

} // namespace

std::string VersionText() { return std::string("qvork ") + QVORK_VERSION; }

namespace {

// A command's usage line as its operands are counted here (CLI11 would show
// every list of operands as "[PATH...]").
class UsageLine : public CLI::Formatter {
public:
    explicit UsageLine(std::string usage) : usage_(std::move(usage)) {}
    std::string make_usage(const CLI::App *, std::string) const override {
        return "Usage: " + usage_ + "\n";
    }

private:
    std::string usage_;
};

} // namespace

bool ParseCommandLine(int argc, char **argv, CommandLine &line, std::string &error) {
    line = CommandLine{};
    CLI::App app("qvork: the NetSonic web cache through the qVORK plug-in", "qvork");
    app.set_help_flag(); // the whole text below, not CLI11's summary
    app.allow_extras();
    app.fallthrough();
    app.require_subcommand(0, 1);
    std::string registry, cache, plugin;
    app.add_flag("-h,--help", line.help);
    app.add_flag("--version", line.version);
    app.add_option("--registry", registry, "registry file for this run");
    app.add_option("--cache", cache, "cache folder for this run only");
    app.add_option("--plugin", plugin, "plug-in module to load");

    std::string disks, plugins, digit;
    auto add = [&app](const char *name, const char *description, const char *usage) {
        CLI::App *sub = app.add_subcommand(name, description);
        sub->formatter(std::make_shared<UsageLine>(usage));
        sub->set_help_flag("-h,--help", "the options of this command");
        sub->footer("Global options: --registry FILE, --cache DIR, --plugin FILE; "
                    "see qvork --help or man qvork.");
        return sub;
    };
    add("panel", "Open the interactive panel (the default on a terminal).", "qvork panel");
    CLI::App *open = add("open", "Open the panel on a cache folder or a site file.", "qvork open PATH");
    open->add_option("PATH", line.operands, "the folder that holds icache, icache, or a site file")
        ->option_text(" "); // one PATH
    CLI::App *ls = add("ls", "List the cache root, a site or a folder.", "qvork ls [OPTIONS] [PATH]");
    ls->add_flag("--all", line.all, "also list sites deleted in this run");
    ls->add_flag("-l", line.longListing,
                 "per file: HTTP status, Content-Type, Content-Encoding, Last-Modified, URL");
    ls->add_flag("-R", line.recursive, "recurse: the folders below, or every site");
    ls->add_option("--format", line.format, "text, tsv or json")
        ->option_text("text|tsv|json")
        ->transform(CLI::CheckedTransformer(
            std::map<std::string, ListFormat>{{"text", ListFormat::kText},
                                              {"tsv", ListFormat::kTsv},
                                              {"json", ListFormat::kJson}}));
    ls->add_option("PATH", line.operands, "a site (name or cache file), folder or file")
        ->option_text(" "); // one PATH
    CLI::App *get = add("get", "Copy files, folders or whole sites into a folder.", "qvork get [OPTIONS] PATH... | --all");
    get->add_option("-C,--dest", line.destination, "destination folder (default: .)");
    get->add_flag("--decode", line.decode, "write gzip, deflate, br and chunked bodies decoded");
    get->add_flag("--no-times", line.noTimes, "leave file times as written");
    get->add_option("--manifest", line.manifest, "FILE (.json or .tsv): what became what");
    get->add_flag("--offline", line.offline, "a copy to browse from disk (links rewritten)");
    get->add_flag("--all", line.all, "every site of the cache (on a site file: all of it)");
    get->add_option("PATH", line.operands,
                    "sites, folders or files of one folder ('/' on a site file: all of it)");
    CLI::App *cat = add("cat", "Write one stored body to standard output.", "qvork cat [--decode] PATH");
    cat->add_flag("--decode", line.decode, "decode gzip, deflate, br and chunked bodies");
    cat->add_option("PATH", line.operands, "a file inside a site")
        ->option_text(" "); // one PATH
    CLI::App *header = add("header", "Print the stored HTTP response header of a file.", "qvork header PATH");
    header->add_option("PATH", line.operands, "a file inside a site")
        ->option_text(" "); // one PATH
    CLI::App *rm = add("rm", "Delete whole sites (their cache files).", "qvork rm [--yes] SITE...");
    rm->add_flag("-y,--yes", line.yes, "answer the plug-in's question Yes");
    rm->add_option("SITE", line.operands, "sites to delete");
    CLI::App *warc = add("warc", "Write sites as a WARC archive (see qvork --help).", "qvork warc [OPTIONS] SITE... | --all");
    warc->add_flag("--all", line.all, "every site");
    warc->add_option("-o,--output", line.output, "FILE.warc or FILE.warc.gz");
    warc->add_option("--cdxj", line.cdxj, "FILE: the archive's CDXJ index");
    warc->add_option("SITE", line.operands, "sites (or their cache files)");
    add("menus", "Show the entries qVORK offers the host's menus.", "qvork menus");
    CLI::App *config = add("config", "Settings dialog; the cache location.", "qvork config [OPTIONS]");
    config->add_option("--cache", line.storeCache, "save DIR as the cache location");
    config->add_option("--disks-menu", disks, "on|off: list qVORK in the Disks menu");
    config->add_option("--plugins-menu", plugins, "on|off: list qVORK in the Plugins menu");
    config->add_option("--digit", digit, "N|auto: Disks-menu hotkey digit 1-9");
    add("help", "The whole help text.", "qvork help");

    // After "--" every word is an operand, even one that starts with "-"
    // (a site named "-l"); CLI11 is given only the words before it.
    int parsedCount = argc;
    std::vector<std::string> afterDashes;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            parsedCount = i;
            afterDashes.assign(argv + i + 1, argv + argc);
            break;
        }
    }
    try {
        app.parse(parsedCount, argv);
    } catch (const CLI::CallForHelp &) {
        for (const CLI::App *sub : app.get_subcommands()) {
            line.commandHelp = sub->help();
        }
        return true;
    } catch (const CLI::ParseError &failure) {
        error = failure.what();
        const size_t missing = error.find(": 1 required");
        if (missing != std::string::npos) {
            error = error.substr(0, missing) + " needs a value";
        }
        return false;
    }
    for (const CLI::App *sub : app.get_subcommands()) {
        line.command = sub->get_name();
    }
    std::vector<std::string> extras = app.remaining();
    for (const CLI::App *sub : app.get_subcommands()) {
        const std::vector<std::string> more = sub->remaining();
        extras.insert(extras.end(), more.begin(), more.end());
    }
    if (line.command == "help") {
        line.help = true;
    }
    if (line.help || line.version) {
        return true;
    }
    if (!extras.empty()) {
        error = ExtrasMessage(app, line.command, extras[0]);
        return false;
    }
    if (parsedCount != argc && line.command.empty()) {
        error = "-- comes after a command: its operands follow it";
        return false;
    }
    line.operands.insert(line.operands.end(), afterDashes.begin(), afterDashes.end());
    auto set = [](const std::string &value, std::optional<std::string> &out) {
        if (!value.empty()) {
            out = value;
        }
    };
    if (app.count("--registry") != 0 && registry.empty()) {
        error = "--registry needs a non-empty value";
        return false;
    }
    set(registry, line.registryFile);
    if (app.count("--cache") != 0 && cache.empty()) {
        error = "--cache needs a non-empty value";
        return false;
    }
    set(cache, line.cacheFolder);
    set(plugin, line.pluginFile);
    if ((config->count("--disks-menu") != 0 &&
         !ParseSwitch("--disks-menu", disks, line.preset.disksMenu, error)) ||
        (config->count("--plugins-menu") != 0 &&
         !ParseSwitch("--plugins-menu", plugins, line.preset.pluginsMenu, error)) ||
        (config->count("--digit") != 0 && !ParseDigit(digit, line.preset.digit, error))) {
        return false;
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
  qvork COMMAND --help      the options of one command
  qvork --help | --version
After --, every word is an operand (a site named -l: qvork ls -- -l).

Commands:
  panel                  (also: no command) On a terminal, open the panel: the
                         cache as the file manager shows the plug-in's panel.
                         Keys: arrows, PgUp/PgDn, Home/End move; Enter opens a
                         site or folder ("..": up); Ctrl+\ goes to the site's
                         top; Insert or Space selects; F3 shows a file's body;
                         Shift+F3 its stored header; F5 copies the selected
                         items (or the current one) to a folder you give; F8
                         deletes the selected sites; Ctrl+R reads the cache
                         again; F9 opens the settings; F1 shows these keys
                         and the help (qVORK.hlf beside the module); F10
                         (asks) or q quits. Backspace or Ctrl+PgUp goes up one folder;
                         typing letters (or Alt+letters) moves to the first
                         name that starts with them. ~ in the copy dialog is
                         your home folder.
  open PATH              On a terminal, open the panel on PATH without the
                         registry, as "vork:PATH" on the file manager's
                         command line does: the folder that holds icache,
                         the icache folder itself, or one site file (".."
                         at its top folder closes the panel).
  ls [--all] [-l] [-R] [--format text|tsv|json] [PATH]
                         List the cache root, or a folder inside a site.
                         Root rows: site name, stored responses, size of the
                         cache file, cache file name ("-" when the file is not
                         a readable site). Site rows: name, file or folder, size.
                         -l adds per file the HTTP status, Content-Type,
                         Content-Encoding, Last-Modified and the full URL
                         (as the names list it: a folder's own page is
                         .../index.htm however it was stored);
                         -R lists the folders below (at the root: every site).
                         tsv escapes tabs, line ends and "\" in fields as \t,
                         \n, \r and \\, other control bytes as \xNN; json
                         is one array of objects. There rows inside a site
                         carry its cache file too.
                         --all also lists sites deleted in this run, marked.
  get [OPTIONS] PATH...  Copy files, folders or whole sites into a folder
  get [OPTIONS] --all    (created if missing); --all: every site of the
                         cache. All PATHs must lie in the same folder. Failed
                         items are named; exit status 1 then, and when a
                         file's decoding, rewriting or date could not be
                         written, an item was left unprocessed or a whole
                         site had records that could not be read. A site
                         that yields fewer files than its file lists
                         responses is told (cut short or damaged, or a URL
                         stored twice: the first record of a URL is the one
                         copied). Interrupted, get says what it left.
                           -C, --dest DEST   the folder (default: .)
                           --decode          gzip, x-gzip, deflate and br
                                             bodies, and chunked ones, written
                                             decoded (as stored, with a
                                             warning, when they do not decode)
                           --no-times        leave the file times as written
                                             (default: Last-Modified, else Date)
                           --manifest FILE   FILE.json or a TSV file: one row per
                                             file written: URL, path, status,
                                             Content-Type, size, date (JSON
                                             shows bytes outside UTF-8 as
                                             U+FFFD; TSV keeps every byte)
                           --offline         a copy to browse from disk: links
                                             between copied pages made relative,
                                             others absolute, HTML pages named
                                             .html, redirects as forwarding pages
  cat [--decode] PATH    Write one stored body to standard output.
  header PATH            Print the stored HTTP response header of a file.
  rm [--yes] SITE...     Delete whole sites, that is their cache files. The
                         plug-in asks "Delete N site(z)." Yes/No: on a terminal
                         you answer it; --yes answers Yes; without a terminal
                         and without --yes the answer is No. Prints each site
                         deleted.
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
                           --cache DIR   save DIR as the cache location
                                         (alone: only that)
  mount CACHE MOUNTPOINT Show a cache folder or one site file as a read-only
                         file system (FUSE); "qvork mount --help" tells more.
  help                   This text.

PATH:
  A site name as "qvork ls" shows it, or its cache file (cache7), then folder
  and file names below it, separated by "/": www.example.com/img/logo.gif. A
  site name may itself hold "/"; the longest site name the PATH starts with is
  taken. A site name that two cache files share is ambiguous: name the cache
  file, which wins over a site named like it. With --cache SITEFILE, PATHs
  start at the site's top folder ("/": all of it). A final "/" lists the
  folder (or a file's children); quote names with spaces or "?".

Global options (before or after the command):
  --registry FILE   The registry file to use for this run (sets QVORK_REGISTRY).
  --cache DIR       Read the sites from DIR/icache/cache1, cache2, ... for this
                    run only (qvork config --cache DIR saves it). DIR may
                    also be the icache folder itself, or any folder of site
                    files copied from one.
  --cache FILE      A site file (cache7): ls, get, header and panel open it as
                    the file manager opens a site file from a file panel;
                    PATHs then start at the site's top folder (no site
                    name). Nothing is stored.
  --plugin FILE     The plug-in module to load (default: qvork.so beside the
                    qvork program; or the QVORK_MODULE environment variable).
  -h, --help        This text.
  --version         The version.

Registry file:
  On Linux the registry is a REGEDIT4 text file: --registry FILE, else
  $QVORK_REGISTRY, else $XDG_CONFIG_HOME/qvork/registry.reg, else
  ~/.config/qvork/registry.reg. In use now: )" +
           registryFile + R"(
  A save changes only the values it sets and keeps every other line; a file
  that does not start with the line REGEDIT4 (or is not a regular file) is
  never written over.
  The cache location is the value ")" NETSONIC_CACHE_PATH_VALUE R"(" under
  HKEY_LOCAL_MACHINE\)" NETSONIC_KEY R"(; the plug-in's settings are
  under HKEY_CURRENT_USER\Software\qvork\Plugins\Q\VORK.

Exit status:
  0 success, 1 an operation failed (a message says which), 2 usage error.

Examples:
  qvork --registry /tmp/r.reg config --cache ~/netsonic
  qvork ls -lR --format json www.example.com
  qvork --cache /mnt/old/netsonic ls
  qvork get --decode --offline 'www.example.com' -C out/
  qvork get 'www.example.com/img' 'www.example.com/a.html' -C out/
  qvork cat --decode 'www.example.com/a.html' | less
  qvork header 'www.example.com/a.html'
  qvork open /mnt/old/netsonic
  qvork --cache /mnt/old/netsonic/icache/cache7 get img/logo.gif -C out/
  qvork rm --yes 'www.example.com'
  qvork warc 'www.example.com' cache7 -o sites.warc.gz --cdxj sites.cdxj
  qvork config --disks-menu off --plugins-menu on --digit 7

The manual page: man qvork (qvork.1).
)";
}

} // namespace qvork_host
