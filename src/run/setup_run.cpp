#include "run/setup_run.h"

#include "fs/file_ops.h"
#include "fs/path_probe.h"
#include "payload/deploy_files.h"
#include "payload/expand_resource.h"
#include "registration/language_registration.h"
#include "registration/uninstall_entry.h"
#include "context/install_context.h"
#include "context/module_info.h"
#include "run/run_mode.h"
#include "support/error_box.h"
#include "ui/host_restart.h"
#include "ui/message_library.h"
#include "ui/setup_dialog.h"

namespace {

constexpr unsigned short kPayloadResourceId = 102;
constexpr size_t kRemovalValueCapacity = 64;  // at most 63 characters of a mod value
constexpr INT_PTR kCancel = 2;

// Install mode: unpack the payload, copy its files, register. False when a
// stage failed.
bool RunInstall()
{
    InstallContext &context = Install();
    char path[kPathCapacity];
    CopyText(path, sizeof path, context.WorkDir);
    AppendText(path, sizeof path, "*.*");
    RemoveFiles(path);  // what an earlier run may have left

    bool done = false;
    char archive[kPathCapacity];
    if (CopyText(archive, sizeof archive, context.WorkDir) && AppendText(archive, sizeof archive, "quorin.zip") &&
        ExpandResource(kPayloadResourceId, "ZIP", archive)) {
        if (DeployModuleFiles()) {
            FinishInstall();
            done = true;
        }
    } else {
        ShowErrorBox("ExpandResource error.");
    }

    RemoveFiles(path);
    CopyText(path, sizeof path, context.WorkDir);
    path[TextLength(path) - 1] = '\0';  // RemoveDirectoryA wants no trailing backslash
    RemoveDirectoryA(path);
    return done;
}

// Removal mode: delete the module's listed files, then take the language out.
bool RunRemoval()
{
    InstallContext &context = Install();
    if (ProbePath(context.ModuleInfoPath) <= 0) {
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
        if (!IsProductRelativePath(value)) continue;
        char path[kPathCapacity];
        // A file that stays (held open by the product) is not reported, but
        // the module is not fully removed: the run fails and a rerun can end it.
        if (CopyText(path, sizeof path, context.ProductDir) && AppendText(path, sizeof path, value) &&
            !RemoveFile(path) && ProbePath(path) > 0)
            MarkRunFailed();
    }
    FinishRemoval();
    return true;
}

}  // namespace

void FinishInstall()
{
    RegisterLanguage();
    RegisterUninstallEntry();
    MarkInstallState(InstallKind::Install);
    if (!Install().Silent) RestartHost();
}

void FinishRemoval()
{
    UnregisterLanguage();
    MarkInstallState(InstallKind::Removal);
    if (!Install().Silent) RestartHost();
}

int RunSetup(HINSTANCE instance, const char *commandLine)
{
    Handles() = RunHandles{};
    Handles().Instance = instance;
    ResetInstallContext();
    ResetErrorBoxShown();
    InstallContext &context = Install();

    if (!IsSilentCommandLine(commandLine)) {
        context.Silent = false;
        if (!BindMessageLibrary()) {
            ReleaseRunHandles();
            return 1;
        }
        if (ShowSetupDialog() == kCancel) {
            ReleaseRunHandles();
            return 0;
        }
    }

    bool succeeded = false;
    if (LoadInstallContext()) {
        ReadModuleKey("TitleE", "Quorin", context.Title, kTitleCapacity);
        succeeded = IsRemovalCommandLine(commandLine) ? RunRemoval() : RunInstall();
    }

    if (!context.Silent) ShowSetupDialog();  // the closing form
    ReleaseRunHandles();
    return succeeded && !RunFailed() ? 0 : 1;
}
