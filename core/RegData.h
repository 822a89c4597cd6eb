// The registry-data backup: what a fix will delete, written into an XML document before it runs,
// and written back into the registry by a restore. The engine's ".his" history files and the
// program's ".bak" backup files hold the same document:
//
//   <Backup>                                       one child per backed-up item, in fix order
//     <Registry_Key Root_key="-2147483646" Path="Software\X" RegSam="512">
//       <Value type="1" name="" RegSam="512" value="YQAAAA=="/>    values first ...
//       <Sub_key name="Y"> ...same children, recursively... </Sub_key>   ... then subkeys
//     </Registry_Key>
//     <INCORRECT_VALUE Root_key=".." Path=".." type=".." value_name=".." RegSam=".." value_value=".."/>
//   </Backup>
//
// Root_key is the root's handle as a signed 32-bit number, RegSam the view bits, type the value
// type; value and value_value are the raw data bytes exactly as the registry holds them (strings
// in UTF-16LE with their terminators) in Base64. Attributes are written in the order shown.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "platform/registry/registry.h"
#include "platform/win32/win32.h"

namespace Branwick {

// Writes registry data into a backup document, under the parent element given at construction.
// A key or value that cannot be opened or read is left out; nothing is reported.
class CRegDataSaver {
public:
    // parent must belong to a document that outlives the saver.
    CRegDataSaver(pugi::xml_node parent, const Platform::CRegistry& registry)
        : m_parent(parent), m_registry(registry) {}

    // Appends a "Registry_Key" with every value and every subkey of root\path, recursively.
    void SaveKey(HKEY hRoot, const std::wstring& strPath, REGSAM dwView);
    // Appends an "INCORRECT_VALUE" with the value strName of root\path.
    void SaveValue(HKEY hRoot, const std::wstring& strPath, const std::wstring& strName,
                   REGSAM dwView);

private:
    void SaveContents(const Platform::CRegKey& key, pugi::xml_node element, REGSAM dwView);

    pugi::xml_node m_parent;
    Platform::CRegistry m_registry;
};

// Writes the data of a backup document back into the registry. Creates what is missing, replaces
// what exists, skips what it cannot create and reports nothing. The caller flushes the registry
// once at the end of the whole restore.
class CRegDataRestorer {
public:
    explicit CRegDataRestorer(const Platform::CRegistry& registry) : m_registry(registry) {}

    // One child of "Backup": "Registry_Key" or "INCORRECT_VALUE"; anything else is ignored.
    void Restore(pugi::xml_node node);
    // A "Registry_Key" (pParent null) or a "Sub_key" below pParent, which was opened with the view
    // dwParentView. A "Registry_Key" uses its "RegSam" (512 when a file lacks it); a "Sub_key"
    // uses its parent's view, so the subkeys land in the view the backup was taken from.
    void RestoreKey(pugi::xml_node node, const Platform::CRegKey* pParent = nullptr,
                    REGSAM dwParentView = KEY_WOW64_32KEY);
    // An "INCORRECT_VALUE": creates its key when missing and sets the value.
    void RestoreValue(pugi::xml_node node);
    // What could not be written, one line each (the key or value and the error); a key that
    // could not be made takes its subkeys and values with it.
    const std::vector<std::wstring>& Failures() const { return m_vcFailures; }

private:
    Platform::CRegistry m_registry;
    std::vector<std::wstring> m_vcFailures;
};

// Base64 with the standard alphabet and "=" padding, without line breaks.
std::string Base64Encode(const Platform::CRegBytes& vData);
// Reads from the start up to the first "=" or the first character outside the alphabet; a trailing
// group of two or three characters gives one or two bytes, a single character nothing.
Platform::CRegBytes Base64Decode(std::string_view strText);

// A new backup document: the empty "Backup" element. Returns that element.
pugi::xml_node CreateBackupDocument(pugi::xml_document& doc);
// The document as a file holds it: UTF-8, without an XML declaration or added white space.
std::string BackupDocumentText(const pugi::xml_document& doc);
// Writes the document to the host path through the one atomic save: afterwards the file is either
// as it was or complete. False with a reason in strError.
bool SaveBackupDocument(const pugi::xml_document& doc, const std::string& strHostPath,
                        std::wstring& strError);
// Parses a backup file's bytes into doc. False with a reason in strError when they are not
// well-formed XML, their document element is not "Backup", or they nest deeper than any registry
// could hold; doc is then empty.
bool LoadBackupDocument(std::string_view strBytes, pugi::xml_document& doc, std::wstring& strError);

}  // namespace Branwick
