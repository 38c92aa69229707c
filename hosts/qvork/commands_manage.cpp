// rm, menus and config: deleting sites, the menu entries, the settings.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "hosts/qvork/cache_location.h"
#include "hosts/qvork/cache_paths.h"
#include "hosts/qvork/commands.h"
#include "hosts/qvork/text_output.h"

namespace qvork_host {

namespace {

void PrintMenu(const char *title, const char *const *strings, int count, const int *numbers) {
    std::printf("%s:\n", title);
    if (strings == nullptr || count <= 0) {
        std::printf("  (none)\n");
        return;
    }
    for (int i = 0; i < count; ++i) {
        std::string entry = strings[i] != nullptr ? DisplayText(strings[i]) : "(null)";
        if (numbers != nullptr) {
            entry += numbers[i] == 0 ? "  [hotkey digit: auto]"
                                     : "  [hotkey digit: " + std::to_string(numbers[i]) + "]";
        }
        std::printf("  %s\n", entry.c_str());
    }
}

} // namespace

int RunRm(Session &session, TerminalUi &ui, const CommandLine &line) {
    int status = kExitOk;
    if (!Requires(session.Entry().DeleteFiles, "DeleteFiles", status)) {
        return status;
    }
    std::string error;
    if (!session.Open(error) || !session.Read()) {
        return Fail(error.empty() ? "the plug-in did not list the cache root" : error);
    }
    std::vector<std::pair<std::string, std::string>> chosen; // site name, cache file
    for (const std::string &site : line.operands) {
        CachePath path;
        const PathStatus split = SplitCachePath(session, site, path, error);
        if (split == PathStatus::kInvalid) {
            Fail(error);
            return kExitUsage;
        }
        if (split == PathStatus::kOk && path.siteIndex < 0) {
            Fail("rm needs a site name (or cache file); " + Quoted(site) + " names none");
            return kExitUsage;
        }
        if (split != PathStatus::kOk || !path.names.empty()) {
            return Fail("no site " + Quoted(site) + " at the cache root (qvork ls lists them)");
        }
        const char *file = session.Item(path.siteIndex).Description;
        if (file == nullptr) {
            return Fail(Quoted(site) + " is not a readable site file; only site files are " +
                        "deleted, and nothing was");
        }
        const std::pair<std::string, std::string> one(path.site, file != nullptr ? file : "");
        if (std::find(chosen.begin(), chosen.end(), one) == chosen.end()) {
            chosen.push_back(one); // a site named twice is deleted, and told, once
        }
        session.SetSelected(path.siteIndex, true);
    }
    if (line.yes) {
        ui.SetQuestionAnswer(0);
    }
    const bool deleted = session.DeleteSelection();
    if (!deleted) {
        if (ui.CancelledUnasked()) {
            status = Fail("nothing deleted: there was no terminal to ask; run qvork rm --yes to "
                          "confirm the deletion");
        } else if (ui.LastQuestionAnswer().value_or(0) != 0) {
            status = Fail("nothing deleted: the deletion was not confirmed");
        } else {
            status = Fail("not every site was deleted: a cache file could not be deleted, or it changed since it was listed");
        }
    }
    // What is gone from the listing (or left hidden in it) was deleted.
    for (const auto &[site, file] : chosen) {
        if (!session.ListsSite(site, file)) {
            std::printf("deleted %s (%s)\n", DisplayText(site).c_str(),
                        file.empty() ? "-" : DisplayText(file).c_str());
        } else if (!deleted && ui.LastQuestionAnswer().value_or(1) == 0) {
            Fail("not deleted: " + Quoted(site) + " (" + file + ")");
        }
    }
    return status;
}

int RunMenus(const PluginModule &module) {
    int status = kExitOk;
    if (!Requires(module.Entry().GetPluginInfo, "GetPluginInfo", status)) {
        return status;
    }
    PluginInfo info;
    std::memset(&info, 0, sizeof(info));
    info.StructSize = static_cast<int>(sizeof(info));
    module.Entry().GetPluginInfo(&info);
    PrintMenu("Disks menu", info.DiskMenuStrings, info.DiskMenuStringsNumber,
              info.DiskMenuNumbers);
    PrintMenu("Plugins menu", info.PluginMenuStrings, info.PluginMenuStringsNumber, nullptr);
    PrintMenu("Configuration menu", info.PluginConfigStrings, info.PluginConfigStringsNumber,
              nullptr);
    return kExitOk;
}

int RunConfig(const PluginModule &module, TerminalUi &ui, const CommandLine &line) {
    int status = kExitOk;
    if (!Requires(module.Entry().Configure, "Configure", status)) {
        return status;
    }
    ui.SetDialogPreset(line.preset);
    const int warnings = ui.WarningsShown();
    const int saved = module.Entry().Configure(0);
    if (!ui.DialogError().empty()) {
        return Fail("settings not changed: " + ui.DialogError());
    }
    if (saved) {
        // Configure answers 1 after "Ok" even when the write failed; its
        // warning box, or a registry file that is no such file, says so.
        const std::string problem = RegistryFileProblem();
        if (!problem.empty()) {
            return Fail("settings not saved: " + problem);
        }
        if (ui.WarningsShown() != warnings) {
            return Fail("settings not saved: the plug-in could not write them to " +
                        SettingsFile());
        }
        std::string error;
        if (!KeepRunSettings(error)) {
            return Fail("settings not saved: " + error);
        }
        std::printf("settings saved in %s\n", SettingsFile().c_str());
        return kExitOk;
    }
    if (!line.preset.Empty()) {
        return Fail("the plug-in did not save the settings");
    }
    std::printf("cancelled: settings unchanged\n");
    return kExitOk;
}

} // namespace qvork_host
