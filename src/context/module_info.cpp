#include "context/module_info.h"

#include <windows.h>

#include "context/install_context.h"
#include "fs/file_ops.h"
#include "fs/path_probe.h"
#include "fs/product_path.h"
#include "support/error_box.h"
#include "support/logged_writes.h"
#include "support/text.h"

void ReadModuleKey(const char *key, const char *fallback, char *buffer, size_t capacity)
{
    const InstallContext &context = Install();
    GetPrivateProfileStringA(context.ModuleName, key, fallback, buffer, static_cast<DWORD>(capacity),
                             context.ModuleInfoPath);
}

bool IsModuleFile(const char *path)
{
    const InstallContext &context = Install();
    // The dictionary directory first: a file in it is checked for links
    // below it, even where it lies in the product directory. (An empty
    // directory leaves the whole path to the name rule, which refuses it.)
    size_t folder = TextLength(context.DictionaryDir);
    if (!StartsWithIgnoreAsciiCase(path, context.DictionaryDir) || !IsModuleFileName(path + folder, false)) {
        folder = TextLength(context.ProductDir);
        if (!StartsWithIgnoreAsciiCase(path, context.ProductDir) || !IsModuleFileName(path + folder, true))
            return false;
    }
    return FreeOfLinks(path, folder);
}

bool FlaggedModuleInfoCopy(int copy, char *path)
{
    const InstallContext &context = Install();
    bool formed = copy == 0 ? TemporaryModuleInfoPath(path)
                            : JoinPath(path, context.ProductDir, "quorin.inf") && context.ProductDir[0] != '\0';
    return formed && ProbePath(path) > 0;
}

void MarkInstallState(InstallKind kind)
{
    InstallContext &context = Install();
    // A removed module must not read as installed in either copy, so both
    // copies get the same flag.
    const char *flag = kind == InstallKind::Install ? "1" : "0";

    // Both paths are built in ModuleInfoPath, which names the product's copy
    // afterwards; an empty or missing copy is never written (nor created).
    // The flag is how the product tells an installed module: a copy that
    // cannot take it (held open by another program) fails the run, so that
    // a rerun writes it. It is on disk before the run commits (rule 3 of the
    // journal).
    for (int copy = 0; copy < 2; ++copy)
        if (FlaggedModuleInfoCopy(copy, context.ModuleInfoPath) &&
            !(WriteProfileText(context.ModuleName, "Install", flag, context.ModuleInfoPath) &&
              FlushFile(context.ModuleInfoPath)))
            MarkRunFailed();
}
