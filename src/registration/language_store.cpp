#include "registration/language_store.h"

#include "registration/language_list.h"
#include "context/install_context.h"
#include "context/module_info.h"
#include "support/logged_writes.h"
#include "support/registry_text.h"
#include "support/text.h"

char ReadModuleLanguage(char *name)
{
    ReadModuleKey("Language", "", name, kLanguageEntryCapacity);
    // A limit of 2 keeps the first character of a longer value.
    char letter[2];
    ReadModuleKey("Letter", "", letter, sizeof letter);
    return letter[0];
}

void ReadLetterList(char *list)
{
    GetPrivateProfileStringA(kLanguagesSection, kLetterListValue, "", list, kLetterListCapacity,
                             Install().ConfigPath);
}

void WriteLetterList(const char *list)
{
    WriteProfileText(kLanguagesSection, kLetterListValue, list, Install().ConfigPath);
}

void LanguageKeyName(char *buffer, unsigned number)
{
    FormatNumberedKey(buffer, kKeyNameCapacity, "Language", number);
}

bool ReadLanguageEntry(unsigned number, char *entry)
{
    char keyName[kKeyNameCapacity];
    LanguageKeyName(keyName, number);
    GetPrivateProfileStringA(kLanguagesSection, keyName, "", entry, kLanguageEntryCapacity,
                             Install().ConfigPath);
    return entry[0] != '\0';
}

void WriteLanguageEntry(unsigned number, const char *entry)
{
    char keyName[kKeyNameCapacity];
    LanguageKeyName(keyName, number);
    WriteProfileText(kLanguagesSection, keyName, entry, Install().ConfigPath);
}

bool OpenOptionsKey(OwnedKey &key)
{
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kOptionsKey, 0, KEY_ALL_ACCESS, key.Receive()) == ERROR_SUCCESS;
}

void WriteRegistryString(HKEY key, const char *name, const char *text)
{
    SetRegistryText(key, name, text);
}

bool ReadDirectionList(HKEY options, char *list)
{
    return ReadRegistryText(options, kDirectionsValue, list, kDirectionListCapacity) && list[0] != '\0';
}
