#include "run/setup_run.h"

#include "context/install_context.h"
#include "context/module_info.h"
#include "context/product_access.h"
#include "fs/file_ops.h"
#include "fs/path_probe.h"
#include "journal/journal.h"
#include "payload/deploy_files.h"
#include "payload/expand_resource.h"
#include "payload/payload_archive.h"
#include "registration/language_registration.h"
#include "registration/language_store.h"
#include "registration/uninstall_entry.h"
#include "run/run_mode.h"
#include "run/run_options.h"
#include "run/setup_mutex.h"
#include "support/error_box.h"
#include "support/resources.h"
#include "support/run_log.h"
#include "ui/host_restart.h"
#include "ui/message_library.h"
#include "ui/setup_dialog.h"

namespace {

constexpr size_t kRemovalValueCapacity = 64;  // at most 63 characters of a mod value
constexpr INT_PTR kCancel = 2;

// The exit codes, as the system installer gives them, so that deployment
// tools read them as they read its own: done; failed; another installation
// runs, retry later; done, but Windows must be restarted to finish.
constexpr int kExitSucceeded = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBusy = ERROR_INSTALL_ALREADY_RUNNING;           // 1618
constexpr int kExitRestartNeeded = ERROR_SUCCESS_REBOOT_REQUIRED;  // 3010

// One format for every stage line: each outcome's words are stored once.
void LogStageOutcome(const char *name, const char *outcome) { LogEvent("stage %s %s", name, outcome); }
void LogStage(const char *name) { LogStageOutcome(name, "started"); }

// A closing stage has no result of its own: what it changed, and any box it
// showed, stand in the log between these two lines.
void RunStage(const char *name, void (*stage)())
{
    LogStage(name);
    stage();
    LogStageOutcome(name, "finished");
}

// A section without its language or its letter describes no module (a
// temporary quorin.inf anyone may write, or a product that lacks the
// module): nothing is installed or removed for it.
bool DescribesModule()
{
    static const char *const kKeys[] = {"Language", "Letter"};
    for (const char *key : kKeys) {
        char value[2];  // only whether it is empty counts
        ReadModuleKey(key, "", value, sizeof value);
        if (value[0] == '\0') {
            LogEvent("no stage runs: the module's section has no %s", key);
            return false;
        }
    }
    return true;
}

// Install mode: unpack the payload, copy its files, register. False when a
// stage failed.
bool RunInstall()
{
    InstallContext &context = Install();
    char path[kPathCapacity];
    JoinPath(path, context.WorkDir, "*.*");
    LogStage("clearing the work directory");
    RemoveFiles(path);  // what an earlier run may have left

    bool done = false;
    char archive[kPathCapacity];
    const char *expand = "ExpandResource", *deploy = "DeployModuleFiles";
    LogStage(expand);
    if (JoinPath(archive, context.WorkDir, "quorin.zip") &&
        ExpandResource(kPayloadResourceId, kPayloadResourceType, archive)) {
        LogStageOutcome(expand, "succeeded");
        LogStage(deploy);
        if (DeployModuleFiles()) {
            LogStageOutcome(deploy, "succeeded");
            FinishInstall();
            done = true;
        } else {
            LogStageOutcome(deploy, "failed: no file put in place");
        }
    } else {
        LogStageOutcome(expand, "failed");
        ShowErrorBox("ExpandResource error.");
    }

    LogStage("removing the work directory");
    RemoveFiles(path);
    ReleaseWorkDir();  // held open until now, so that nobody could swap it
    CopyPath(path, context.WorkDir);
    path[TextLength(path) - 1] = '\0';  // RemoveDirectoryA wants no trailing backslash
    if (RemoveDirectoryA(path))
        LogEvent("removed directory %s", path);
    else
        LogFailure("directory %s not removed", path);
    return done;
}

// Deleting is moving aside, so that a removal that fails later can put the
// file back; what was moved aside is deleted once the run commits. Every
// listed file is noted first, and moved only once one flush of the journal
// has put every line on disk (rule 1 of the journal): the moves go by the
// journal's lines. The staging copy goes with its file: a replacement an
// earlier install left for the restart would otherwise bring the file back.
bool NoteListedFile(const char *path)
{
    char staging[kPathCapacity];
    if (StagingPath(staging, path) && GetFileAttributesA(staging) != INVALID_FILE_ATTRIBUTES && !NoteStaged(staging, false))
        return false;
    if (ProbePath(path) > 0) return NoteStaged(path, false);
    LogEvent("not deleted %s: missing or empty", path);
    return true;
}

// A file another program holds is deleted at the commit too, or at the next
// restart.
bool MoveListedFileAside(const char *path, bool)
{
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return true;
    return StillInUse(path) ? NoteAtCommit(false, path) : MoveAside(path);
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
    if (!DescribesModule() || !BeginJournal()) return false;
    for (unsigned n = 0; !RunFailed(); ++n) {
        char key[16];
        char value[kRemovalValueCapacity];
        FormatNumberedKey(key, sizeof key, "mod", n);
        ReadModuleKey(key, "", value, sizeof value);
        if (value[0] == '\0') break;
        // Deleting runs with administrator rights, and the list may come from
        // the temporary copy anyone can write: only a dictionary file of the
        // product, reached through no link.
        char path[kPathCapacity];
        if (!JoinPath(path, context.ProductDir, value) || !IsModuleFile(path)) {
            LogEvent("%s=%s skipped: not a dictionary file of the product", key, value);
            continue;
        }
        // A file that can be neither deleted nor left for the restart is not
        // reported, but the run fails and everything is put back.
        if (!NoteListedFile(path)) MarkRunFailed();
    }
    if (!RunFailed() && !(FlushJournal() && ForEachLine(kStagedLines, MoveListedFileAside))) MarkRunFailed();
    FinishRemoval();
    return true;
}

// Everything the registration, the language's and the flag's, will change
// is noted before the first change, so that one flush puts it all on disk
// (rule 1 of the journal). A new uninstall entry flushes its own line.
void NoteRegistration()
{
    if (!RunFailed() && !(NoteLanguageChanges() && KeepModuleInfoCopies() && FlushJournal())) MarkRunFailed();
}

// The run itself, once it holds the setup mutex: the context, then the
// install or removal sequence. True when every stage did its part.
bool RunSequence(const RunRequest &request)
{
    InstallContext &context = Install();
    if (!LoadInstallContext()) {
        LogEvent("no stage runs: the context is not usable");
        return false;
    }
    LogProductOpenToUsers();
    // What a killed run left is put back before this run looks at anything.
    if (!RecoverJournal()) {
        LogEvent("no stage runs: an earlier run is not undone");
        return false;
    }
    ReadModuleKey("TitleE", "Quorin", context.Title, kTitleCapacity);
    LogEvent("error box caption (TitleE): %s", context.Title);
    bool done = request.Removal ? RunRemoval() : DescribesModule() && RunInstall();
    if (!done) MarkRunFailed();
    // Settled already where the product was restarted; a run that failed
    // before any stage has begun no journal.
    SettleJournal();
    return done;
}

// Another setup kept the mutex past the wait: nothing was changed. The box
// still carries the module's caption, read without making anything.
void ReportBusy()
{
    IdentifyModule();
    ReadModuleKey("TitleE", "Quorin", Install().Title, kTitleCapacity);
    ShowErrorBox("Another setup of Quorin is running. Run this setup again when it has finished.", kBusyText);
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

// Each stage runs only while the run has not failed: a failure anywhere
// puts the whole run back, so a later stage would only be undone.
void FinishInstall()
{
    NoteRegistration();
    if (!RunFailed()) RunStage("RegisterLanguage", RegisterLanguage);
    if (!RunFailed()) RunStage("RegisterUninstallEntry", RegisterUninstallEntry);
    if (!RunFailed()) RunStage("MarkInstallState", [] { MarkInstallState(InstallKind::Install); });
    // Noted so that an undo after a cut keeps what others change later.
    NoteWrites();
    // The product, once closed, frees the files it held: they are put in
    // place, and the run committed or put back, before it starts again.
    if (!Install().Silent)
        RunStage("RestartHost", [] {
            RestartHost([] {
                if (!RunFailed()) RetryHeldFiles();
                SettleJournal();
            });
        });
}

void FinishRemoval()
{
    NoteRegistration();
    if (!RunFailed()) RunStage("UnregisterLanguage", UnregisterLanguage);
    if (!RunFailed()) RunStage("MarkInstallState", [] { MarkInstallState(InstallKind::Removal); });
    // Noted so that an undo after a cut keeps what others change later.
    NoteWrites();
    SettleJournal();
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
    RunRequest request;
    ReadRunRequest(commandLine, &request);
    if (request.LogPath[0] != '\0') OpenRunLog(request.LogPath);
    SuppressErrorBoxes(request.NoBoxes && request.Silent);
    LogRunStart(request);

    if (!request.Silent) {
        context.Silent = false;
        if (!BindMessageLibrary()) {
            ShowProductNotFound();
            return EndRun(kExitFailed, startTicks);
        }
        if (ShowSetupDialog() == kCancel) {
            LogEvent("setup dialog: %s", "Cancel");
            return EndRun(kExitSucceeded, startTicks);
        }
        LogEvent("setup dialog: %s", "Start");
    }

    // Held from before the context (which makes the work directory) to the
    // removal of the work directory, and let go before the closing form, so
    // that a dialog left open blocks no other setup.
    int exitCode = kExitBusy;
    if (TakeSetupMutex()) {
        bool succeeded = RunSequence(request);
        ReleaseWorkDir();  // before the next setup may take the work directory
        ReleaseSetupMutex();
        exitCode = !succeeded || RunFailed() ? kExitFailed : RestartNeeded() ? kExitRestartNeeded : kExitSucceeded;
    } else {
        ReportBusy();
    }

    // The exit code is settled before the closing form, which tells a person
    // what it tells a program: any code but 0 shows the failure text, and a
    // restart still to come is said in a box first.
    if (!context.Silent) {
        if (exitCode == kExitRestartNeeded)
            ShowNoticeBox("Windows must be restarted to finish installing this module.", kRestartText);
        ShowSetupDialog(exitCode != kExitSucceeded);  // the closing form
    }
    return EndRun(exitCode, startTicks);
}
