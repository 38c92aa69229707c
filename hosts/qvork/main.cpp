// qvork: the console host. Parses the command line, prepares the registry
// (--registry; --cache for this run, config --cache to save it), loads the plug-in module, hands it the terminal's
// services and runs one command, or, without a command on a terminal, the
// interactive panel.
#include <strings.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "hosts/qvork/cache_location.h"
#include "hosts/qvork/command_line.h"
#include "hosts/qvork/commands.h"
#include "hosts/qvork/curses_screen.h"
#include "hosts/qvork/help_file.h"
#include "hosts/qvork/host_services.h"
#include "hosts/qvork/mount_command.h"
#include "hosts/qvork/mount_extfs.h"
#include "hosts/qvork/open_target.h"
#include "hosts/qvork/panel_ui.h"
#include "hosts/qvork/plugin_module.h"
#include "hosts/qvork/session.h"
#include "hosts/qvork/stored_items.h"
#include "hosts/qvork/terminal_ui.h"
#include "hosts/qvork/warc_export.h"
#include "platform/win32.h"

using namespace qvork_host;

namespace {

int UsageError(const std::string &message) {
    std::fprintf(stderr, "qvork: %s\nTry 'qvork --help'.\n", message.c_str());
    return kExitUsage;
}

// Commands that read the cache, and so need it configured.
bool ReadsCache(const CommandLine &line) {
    return line.command != "menus" && line.command != "config";
}

int StoreCache(std::string folder) {
    const std::string backslash = BackslashProblem(folder);
    if (!backslash.empty()) {
        return UsageError(backslash);
    }
    std::error_code ignored;
    if (std::filesystem::is_regular_file(folder, ignored)) {
        return UsageError("config --cache takes the folder that holds icache; " + folder +
                          " is a file (a site file is read with --cache FILE for one run)");
    }
    // NetSonic's value names the folder that holds icache; given icache
    // itself, its parent is stored.
    std::filesystem::path given = std::filesystem::absolute(folder, ignored).lexically_normal();
    if (!given.has_filename()) {
        given = given.parent_path();
    }
    if (strcasecmp(given.filename().c_str(), "icache") == 0 &&
        std::filesystem::is_directory(given, ignored) &&
        !std::filesystem::is_directory(given / "icache", ignored)) {
        folder = given.parent_path().string();
    }
    std::string stored;
    std::string error;
    if (!StoreCacheFolder(folder, stored, error)) {
        return Fail(error);
    }
    std::fprintf(stdout, "stored CachePath = %s in %s\n", stored.c_str(),
                 RegistryFileInUse().c_str());
    if (stored.size() > kLongestCachePath) {
        std::fprintf(stderr,
                     "qvork: warning: the plug-in takes a CachePath of at most %zu characters; "
                     "it will not find this cache\n",
                     kLongestCachePath);
    }
    const DWORD icache = GetFileAttributesA((stored + "/icache").c_str()); // in any case
    if (icache == INVALID_FILE_ATTRIBUTES || (icache & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        std::fprintf(stderr,
                     "qvork: warning: %s/icache is not a folder; the cache root will be "
                     "empty (a folder that holds the site files itself is read with --cache "
                     "DIR for one run, or qvork open DIR)\n",
                     stored.c_str());
    }
    return kExitOk;
}

bool WantsPanel(const CommandLine &line) {
    return line.command.empty() || line.command == "panel" || line.command == "open";
}

// The panel on the terminal, with the screen behind the plug-in's services
// while it runs.
int OpenPanel(const PluginModule &module, const OpenTarget &target,
              const std::string &rootHint) {
    CursesScreen screen;
    std::string error;
    if (!screen.Start(error)) {
        return Fail(error);
    }
    CursesUi ui(screen);
    InstallUi(&ui);
    int status;
    {
        Session session(module);
        session.SetTarget(target);
        status = RunPanel(session, screen, HelpFilePath(module.Path()), error, rootHint);
    }
    InstallUi(nullptr);
    screen.Stop();
    if (status != kExitOk) {
        Fail(error);
    }
    return status;
}

int RunCommand(const PluginModule &module, TerminalUi &ui, const CommandLine &line,
               const OpenTarget &target) {
    if (line.command == "menus") {
        return RunMenus(module);
    }
    if (line.command == "config") {
        return RunConfig(module, ui, line);
    }
    // ls -l and get view a header per file; cat copies through a work folder.
    std::optional<FastViewFolder> views;
    if ((line.command == "ls" && line.longListing) || line.command == "get") {
        views.emplace();
    }
    // The views' files are gone before their folder is removed.
    struct DeletionsFinished {
        TerminalUi &ui;
        ~DeletionsFinished() { ui.FinishDeletions(); }
    } deletionsFinished{ui};
    Session session(module);
    session.SetTarget(target);
    session.TellEntryWarningsOnce();
    if (line.command == "ls") {
        return RunLs(session, ui, line);
    }
    if (line.command == "get") {
        return RunGet(session, ui, line);
    }
    if (line.command == "header") {
        return RunHeader(session, ui, line);
    }
    if (line.command == "warc") {
        return RunWarc(session, line);
    }
    if (line.command == "cat") {
        return RunCat(session, ui, line);
    }
    return RunRm(session, ui, line);
}

} // namespace

int main(int argc, char **argv) {
    // A file over the size limit (ulimit -f) fails with its own error, and
    // the copy goes on with the others, instead of the process ending mid-file.
    std::signal(SIGXFSZ, SIG_IGN);
    if (IsMountCommand(argc, argv)) {
        return RunMount(argc - 1, argv + 1);
    }
    if (IsExtfsCommand(argc, argv)) {
        return RunExtfs(argc - 1, argv + 1);
    }
    CommandLine line;
    std::string error;
    if (!ParseCommandLine(argc, argv, line, error)) {
        return UsageError(error);
    }
    if (line.registryFile) {
        setenv("QVORK_REGISTRY", line.registryFile->c_str(), 1);
    }
    if (line.help) {
        std::fputs(HelpText(RegistryFileInUse()).c_str(), stdout);
        return kExitOk;
    }
    if (line.version) {
        std::printf("%s\n", VersionText().c_str());
        return kExitOk;
    }
    if (!line.commandHelp.empty()) {
        std::fputs(line.commandHelp.c_str(), stdout);
        return kExitOk;
    }
    if (line.storeCache) {
        const int stored = StoreCache(*line.storeCache);
        if (stored != kExitOk || line.preset.Empty()) {
            return stored;
        }
    }
    OpenTarget target;
    if (!ChooseOpenTarget(line, target, error)) {
        return UsageError(error);
    }
    // --cache DIR is for this run only; --cache FILE opens a site file.
    RunCache runCache;
    if (line.cacheFolder && target.kind == OpenTarget::kRegistered &&
        !runCache.Use(*line.cacheFolder, error)) {
        return Fail(error);
    }
    if (WantsPanel(line) && (isatty(STDIN_FILENO) != 1 || isatty(STDOUT_FILENO) != 1)) {
        if (line.command.empty()) {
            return UsageError("no command given (without one, qvork opens its panel, which needs "
                              "a terminal)");
        }
        return Fail("the panel needs a terminal on standard input and output");
    }

    PluginModule module;
    if (!module.Load(ChooseModulePath(line.pluginFile ? *line.pluginFile : std::string()),
                     error)) {
        return Fail(error + " (give the module with --plugin FILE)");
    }
    module.KeepLoaded();
    if (module.Entry().GetMinFarVersion != nullptr &&
        module.Entry().GetMinFarVersion() > FAR_VERSION_170) {
        return Fail("the plug-in needs a newer host than version 1.70");
    }
    const PluginStartupInfo info = MakeStartupInfo(module.Path());
    module.Entry().SetStartupInfo(&info);
    // What keeps the registered cache from listing (a folder opened by
    // open PATH or a site file by --cache FILE has no registry part).
    const std::string cacheProblem = ReadsCache(line) && target.kind == OpenTarget::kRegistered
                                         ? CacheProblem(line.cacheFolder.has_value())
                                         : std::string();
    if (WantsPanel(line)) {
        return OpenPanel(module, target, cacheProblem);
    }
    if (!cacheProblem.empty()) {
        return Fail(cacheProblem);
    }
    TerminalUi ui(ProbeTerminal());
    InstallUi(&ui);
    const int status = RunCommand(module, ui, line, target);
    InstallUi(nullptr);
    return status;
}
