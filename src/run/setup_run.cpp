#include "run/setup_run.h"

#include "context/install_context.h"
#include "context/module_info.h"
#include "fs/file_ops.h"
#include "fs/path_probe.h"
#include "payload/deploy_files.h"
#include "payload/expand_resource.h"
#include "registration/language_registration.h"
#include "registration/uninstall_entry.h"
#include "run/run_mode.h"
#include "run/run_options.h"
#include "support/error_box.h"
#include "support/run_log.h"
#include "ui/host_restart.h"
#include "ui/message_library.h"
#include "ui/setup_dialog.h"

namespace {

constexpr unsigned short kPayloadResourceId = 102;
constexpr size_t kRemovalValueCapacity = 64;  // at most 63 characters of a mod value
constexpr INT_PTR kCancel = 2;
constexpr int kExitRestartNeeded = 3010;  // ERROR_SUCCESS_REBOOT_REQUIRED, which deployment tools know

void LogStage(const char *name) { LogEvent("stage %s started", name); }

// A closing stage has no result of its own: what it changed, and any box it
// showed, stand in the log between these two lines.
void RunStage(const char *name, void (*stage)())
{
    LogStage(name);
    stage();
    LogEvent("stage %s finished", name);
}

// Install mode: unpack the payload, copy its files, register. False when a
// stage failed.
bool RunInstall()
{
    InstallContext &context = Install();
    char path[kPathCapacity];
    CopyText(path, sizeof path, context.WorkDir);
    AppendText(path, sizeof path, "*.*");
    LogStage("clearing the work directory");
    RemoveFiles(path);  // what an earlier run may have left

    bool done = false;
    char archive[kPathCapacity];
    LogStage("ExpandResource");
    if (CopyText(archive, sizeof archive, context.WorkDir) && AppendText(archive, sizeof archive, "quorin.zip") &&
        ExpandResource(kPayloadResourceId, "ZIP", archive)) {
        LogEvent("stage ExpandResource succeeded");
        LogStage("DeployModuleFiles");
        if (DeployModuleFiles()) {
            LogEvent("stage DeployModuleFiles succeeded");
            FinishInstall();
            done = true;
        } else {
            LogEvent("stage DeployModuleFiles failed: no file put in place");
        }
    } else {
        LogEvent("stage ExpandResource failed");
        ShowErrorBox("ExpandResource error.");
    }

    LogStage("removing the work directory");
    RemoveFiles(path);
    CopyText(path, sizeof path, context.WorkDir);
    path[TextLength(path) - 1] = '\0';  // RemoveDirectoryA wants no trailing backslash
    if (RemoveDirectoryA(path))
        LogEvent("removed directory %s", path);
    else
        LogEvent("directory %s not removed: error %lu", path, GetLastError());
    return done;
}

// Removal mode: delete the module's listed files, then take the language out.
bool RunRemoval()
{
    InstallContext &context = Install();
    LogStage("deleting the module's files");
    if (ProbePath(context.ModuleInfoPath) <= 0) {
        LogEvent("%s is missing or empty", context.ModuleInfoPath);
        ShowErrorBox("File quorin.inf not found.");
        return false;
    }
    for (unsigned n = 0;; ++n) {
        char key[16];
        char value[kRemovalValueCapacity];
        FormatNumberedKey(key, sizeof key, "mod", n);
        ReadModuleKey(key, "", value, sizeof value);
        if (value[0] == '\0') break;
        // Deleting runs with administrator rights, and the list may come from
        // the temporary copy anyone can write: stay inside the product.
        if (!IsProductRelativePath(value)) {
            LogEvent("%s=%s skipped: not inside the product directory", key, value);
            continue;
        }
        char path[kPathCapacity];
        // A file that stays is not reported, but the module is not fully
        // removed: the run fails and a rerun can end it.
        if (CopyText(path, sizeof path, context.ProductDir) && AppendText(path, sizeof path, value) &&
            !RemoveModuleFile(path))
            MarkRunFailed();
    }
    FinishRemoval();
    return true;
}

// Releases what the run holds, writes the log's last line and closes it.
int EndRun(int exitCode, DWORD startTicks)
{
    ReleaseRunHandles();
    LogEvent("end: exit code %d after %lu ms", exitCode, GetTickCount() - startTicks);
    CloseRunLog();
    return exitCode;
}

}  // namespace

void FinishInstall()
{
    RunStage("RegisterLanguage", RegisterLanguage);
    RunStage("RegisterUninstallEntry", RegisterUninstallEntry);
    RunStage("MarkInstallState", [] { MarkInstallState(InstallKind::Install); });
    if (!Install().Silent) RunStage("RestartHost", [] { RestartHost(RetryHeldFiles); });
}

void FinishRemoval()
{
    RunStage("UnregisterLanguage", UnregisterLanguage);
    RunStage("MarkInstallState", [] { MarkInstallState(InstallKind::Removal); });
    if (!Install().Silent) RunStage("RestartHost", [] { RestartHost(nullptr); });
}

int RunSetup(HINSTANCE instance, const char *commandLine)
{
    DWORD startTicks = GetTickCount();
    Handles() = RunHandles{};
    Handles().Instance = instance;
    ResetInstallContext();
    ResetErrorBoxShown();
    InstallContext &context = Install();

    // The options only add a log and, in a silent run, take the boxes away;
    // the tail alone still chooses the run.
    RunOptions options;
    ParseRunOptions(commandLine, &options);
    if (options.LogPath[0] != '\0') OpenRunLog(options.LogPath);
    SuppressErrorBoxes(options.NoBoxes && IsSilentCommandLine(commandLine));
    LogRunStart(commandLine, options);

    if (!IsSilentCommandLine(commandLine)) {
        context.Silent = false;
        if (!BindMessageLibrary()) return EndRun(1, startTicks);
        if (ShowSetupDialog() == kCancel) {
            LogEvent("setup dialog: Cancel");
            return EndRun(0, startTicks);
        }
        LogEvent("setup dialog: Start");
    }

    bool succeeded = false;
    if (LoadInstallContext()) {
        ReadModuleKey("TitleE", "Quorin", context.Title, kTitleCapacity);
        LogEvent("error box caption (TitleE): %s", context.Title);
        succeeded = IsRemovalCommandLine(commandLine) ? RunRemoval() : RunInstall();
    } else {
        LogEvent("no stage runs: the context is not usable");
    }

    int exitCode = succeeded && !RunFailed() ? (RestartNeeded() ? kExitRestartNeeded : 0) : 1;
    if (!context.Silent) {
        if (exitCode == kExitRestartNeeded)
            ShowNoticeBox("Windows must be restarted to finish installing this module.");
        ShowSetupDialog();  // the closing form
    }
    return EndRun(exitCode, startTicks);
}
