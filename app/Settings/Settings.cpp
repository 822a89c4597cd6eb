#include "app/Settings/Settings.h"

#include <pugixml.hpp>

#include <charconv>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <sstream>

#include "core/Exceptions.h"
#include "core/MessageBox.h"
#include "core/MessageSink.h"
#include "core/Messages.h"
#include "core/Text.h"
#include "core/XmlBounds.h"
#include "platform/desktop/desktop.h"
#include "platform/target/target.h"

namespace Branwick {
namespace {

// The category elements of "last-scan", in ascending bit order from 0x1.
const char* const kCategoryElements[] = {"com-activex",       "uninstalls",    "fonts",
                                         "shared-dlls",       "startup-items", "file-path-ref",
                                         "program-shortcats", "empty-key",     "help-files",
                                         "app-path",          "file-assoc",    "junk-files"};
const char* const kCounters[] = {"found", "fixed", "ignored"};

const wchar_t kAutostartName[] = L"corvane";

// The children of "task-trigger" and the record fields they hold; "item1" and "item2" are the
// first 32 bits of the kind's union and the 16-bit word after them.
struct STriggerWord {
    const char* pszName;
    WORD TASK_TRIGGER::*pField;
};
struct STriggerDword {
    const char* pszName;
    DWORD TASK_TRIGGER::*pField;
};
const STriggerWord kTriggerWords[] = {
    {"begin-year", &TASK_TRIGGER::wBeginYear}, {"begin-month", &TASK_TRIGGER::wBeginMonth},
    {"begin-day", &TASK_TRIGGER::wBeginDay},   {"end-year", &TASK_TRIGGER::wEndYear},
    {"end-month", &TASK_TRIGGER::wEndMonth},   {"end-day", &TASK_TRIGGER::wEndDay},
    {"start-hour", &TASK_TRIGGER::wStartHour}, {"start-minute", &TASK_TRIGGER::wStartMinute},
};
const STriggerDword kTriggerDwords[] = {
    {"minutes-duration", &TASK_TRIGGER::MinutesDuration},
    {"minutes-interval", &TASK_TRIGGER::MinutesInterval},
    {"rgFlags", &TASK_TRIGGER::rgFlags},
};

DWORD UnionItem1(const TASK_TRIGGER& t) {
    DWORD value;
    std::memcpy(&value, &t.Type, sizeof value);
    return value;
}
WORD UnionItem2(const TASK_TRIGGER& t) {
    WORD value;
    std::memcpy(&value, reinterpret_cast<const char*>(&t.Type) + 4, sizeof value);
    return value;
}
void SetUnionItem1(TASK_TRIGGER& t, DWORD value) {
    std::memcpy(&t.Type, &value, sizeof value);
}
void SetUnionItem2(TASK_TRIGGER& t, WORD value) {
    std::memcpy(reinterpret_cast<char*>(&t.Type) + 4, &value, sizeof value);
}

// A decimal number, signed or not, with blanks around it, within [nLow, nHigh]; false for
// anything else (an empty text included), which then reads as the element's default.
bool ParseNumber(const char* pszText, std::int64_t& nValue, std::int64_t nLow = INT32_MIN,
                 std::int64_t nHigh = UINT32_MAX) {
    std::string_view text(pszText);
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return false;
    }
    text = text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
    }
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), nValue);
    return error == std::errc() && end == text.data() + text.size() && nValue >= nLow &&
           nValue <= nHigh;
}

void SetText(pugi::xml_node node, const std::string& strText) {
    node.remove_children();
    node.text().set(strText.c_str());
}

// The element's number; an empty or unreadable text is first replaced by `nDefault`.
std::int64_t ReadNumber(pugi::xml_node node, std::int64_t nDefault) {
    std::int64_t nValue = 0;
    if (!ParseNumber(node.text().get(), nValue)) {
        SetText(node, std::to_string(nDefault));
        nValue = nDefault;
    }
    return nValue;
}

void SerializeScalar(pugi::xml_node node, DWORD& dwField, DWORD dwDefault, bool bSave) {
    const std::int64_t nValue = ReadNumber(node, dwDefault);
    if (bSave) {
        SetText(node, std::to_string(dwField));
    } else {
        dwField = static_cast<DWORD>(nValue);
    }
}

std::string Utf8(const std::wstring& text) {
    return WideToUtf8(text);
}

// Removes the elements the store writes itself, keeping anything a later version may add.
void RemoveOwnChildren(pugi::xml_node node, std::initializer_list<const char*> names) {
    for (pugi::xml_node child = node.first_child(); child;) {
        pugi::xml_node next = child.next_sibling();
        for (const char* pszName : names) {
            if (child.type() == pugi::node_element && std::strcmp(child.name(), pszName) == 0) {
                node.remove_child(child);
                break;
            }
        }
        child = next;
    }
}

// The element that opens `name` in `text` from `from` on: "<name>", "<name ...>" or "<name/>".
size_t FindOpenTag(const std::string& text, const std::string& name, size_t from) {
    for (size_t at = text.find("<" + name, from); at != std::string::npos;
         at = text.find("<" + name, at + 1)) {
        const char next = at + name.size() + 1 < text.size() ? text[at + name.size() + 1] : '\0';
        if (next == '>' || next == '/' || next == ' ' || next == '\t' || next == '\r' ||
            next == '\n') {
            return at;
        }
    }
    return std::string::npos;
}

// The first whole element named strName in a damaged text. Each try parses from an open tag to the
// first end tag (or, without one, the first "/>") after it, and only the last open tag before that
// end is tried: every byte is then parsed at most once, where trying each open tag in turn costs
// the square of the size for a text full of open tags.
bool FindWholeElement(const std::string& text, const std::string& name, pugi::xml_document& fragment) {
    const std::string endTag = "</" + name + ">";
    size_t close = text.find(endTag);
    size_t selfClose = text.find("/>");
    for (size_t at = FindOpenTag(text, name, 0); at != std::string::npos;) {
        if (close != std::string::npos && close < at) {
            close = text.find(endTag, at);
        }
        if (selfClose != std::string::npos && selfClose < at) {
            selfClose = text.find("/>", at);
        }
        const size_t end = close != std::string::npos       ? close + endTag.size()
                           : selfClose != std::string::npos ? selfClose + 2
                                                            : std::string::npos;
        if (end == std::string::npos) {
            return false;
        }
        const size_t next = FindOpenTag(text, name, at + 1);
        if ((next == std::string::npos || next >= end) && fragment.load_buffer(text.data() + at, end - at) &&
            name == fragment.document_element().name()) {
            return true;
        }
        at = next;
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The data folder

std::wstring GetDataFolder(const Platform::CTarget& target) {
    const std::wstring strFolder = target.DataFolder();
    if (!strFolder.empty()) {
        if (const std::wstring strNote = target.DataFolderNote(); !strNote.empty()) {
            ShowMessageBox(strNote);
        }
        return strFolder;
    }
    ShowMessageBox(L"Can't get USERPROFILE path");
    return L"\\Application Data\\Corvane\\";
}

// ---------------------------------------------------------------------------------------------
// The singleton

namespace {
CSettingsSite& ProcessSite() {
    static CSettingsSite site;
    return site;
}
}  // namespace

void CSettings::SetSite(const CSettingsSite& site) {
    ProcessSite() = site;
}

CSettings& CSettings::Instance() {
    static CSettings* pSettings = new CSettings(ProcessSite());
    return *pSettings;
}

CSettings::CSettings(const CSettingsSite& site)
    : m_site(site),
      m_strPath(site.m_strDataFolder + L"settings.xml"),
      m_Sections({L"general", L"scan-flag", L"last-scan", L"ignore-list", L"scheduling",
                  L"disableditems-list", L"history-cleaner"}) {
    m_bTask = Guard(L"Instance", L"", [&] {
        if (!m_site.m_pTask) {
            throw BRANWICK_EXCEPTION(L"m_pITask reference");
        }
        m_site.m_pTask->CreateTask(m_site.m_strProgramPath);
    });
    // Loaded also when the task could not be had: a later save must not write defaults over the
    // user's file.
    Serialize(false);
    if (m_bTask) {
        Synchronize();
    }
}

// ---------------------------------------------------------------------------------------------
// Failures

void CSettings::Log(const std::wstring& strText) {
    if (m_site.m_pSink) {
        m_site.m_pSink->Post(std::make_unique<CLogMessage>(strText));
    }
}

bool CSettings::Guard(const wchar_t* pszOperation, const std::wstring& strParameters,
                      const std::function<void()>& operation) {
    std::wstring strCause;
    m_strLastError.clear();
    try {
        operation();
        return true;
    } catch (const CBranwickException& e) {
        strCause = e.GetMessage();
    } catch (const std::exception& e) {
        strCause =
            CBranwickException(L"Settings", std::wstring(L"Branwick::CSettings::") + pszOperation,
                               0, Utf8ToWide(e.what()))
                .GetMessage();
    } catch (...) {
        strCause = L"Unknown exception";
    }
    const std::wstring strText =
        FormatText(L"Cause: %ls\nParameters: %ls\n", strCause.c_str(), strParameters.c_str());
    Log(strText);
    if (m_site.m_pMessageBox != nullptr) {
        m_site.m_pMessageBox->Show(strText, L"Corvane", MB_OK);
    } else {
        ShowMessageBox(strText, L"Corvane", MB_OK);
    }
    if (m_strLastError.empty()) {
        m_strLastError = std::wstring(L"The settings could not be handled (") + pszOperation + L"); the log says why.";
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// The file

bool CSettings::Serialize(bool bSave) {
    return Guard(L"Serialize", L"", [&] { SerializeOrThrow(bSave); });
}

bool CSettings::Change(const std::function<void()>& fnChange) {
    Platform::CWriterLock lock;
    m_strLastError.clear();
    if (m_site.m_pTarget != nullptr && !lock.Acquire(*m_site.m_pTarget, Platform::kWriterWaitMs, m_strLastError)) {
        Log(m_strLastError);
        ShowMessageBox(m_strLastError, L"Corvane", MB_OK);
        return false;
    }
    if (!Serialize(false)) {
        return false;
    }
    fnChange();
    return Serialize(true);
}

void CSettings::SerializeOrThrow(bool bSave) {
    Platform::CWriterLock lock;
    if (bSave && m_site.m_pTarget != nullptr &&
        !lock.Acquire(*m_site.m_pTarget, Platform::kWriterWaitMs, m_strLastError)) {
        throw BRANWICK_EXCEPTION(m_strLastError);
    }
    pugi::xml_document doc;
    LoadDocument(doc);
    pugi::xml_node root = doc.child("settings");
    if (!root) {
        throw BRANWICK_EXCEPTION(L"Cannot load settings");
    }
    for (const std::wstring& strSection : m_Sections) {
        if (!root.child(Utf8(strSection).c_str())) {
            AppendChild(root, strSection);
        }
    }
    // Elements this store does not know ("ignore-list" among them) are left as they are.
    for (pugi::xml_node node = root.first_child(); node; node = node.next_sibling()) {
        const std::string strName = node.name();
        if (strName == "general") {
            SerializeScalar(node, m_dwGeneral, 12, bSave);
        } else if (strName == "scan-flag") {
            SerializeScalar(node, m_dwScanFlags, 4095, bSave);
        } else if (strName == "history-cleaner") {
            SerializeScalar(node, m_dwHistoryFlags, 16383, bSave);
        } else if (strName == "last-scan") {
            SerializeLastScan(doc, node, bSave);
        } else if (strName == "scheduling") {
            SerializeScheduling(node, bSave);
        } else if (strName == "disableditems-list") {
            SerializeDisabledItems(node, bSave);
        }
    }
    SerializeFormatService(root, bSave);
    if (bSave) {
        SaveDocument(doc);
    }
}

void CSettings::LoadDocument(pugi::xml_document& doc) {
    if (!m_site.m_pTarget) {
        throw BRANWICK_EXCEPTION(L"Cannot load settings");
    }
    std::string strText;
    if (!m_site.m_pTarget->Files().ReadFile(m_strPath, strText).Ok()) {
        CreateXML(doc);
        return;
    }
    if (strText.size() > kMaxXmlFileBytes) {
        Log(FormatText(L"%ls is larger than %zu bytes and is not read; it is kept as %ls.bad",
                       m_strPath.c_str(), kMaxXmlFileBytes, m_strPath.c_str()));
        m_site.m_pTarget->Files().WriteFile(m_strPath + L".bad", strText);
        CreateXML(doc);
        return;
    }
    const pugi::xml_parse_result result = doc.load_buffer(
        strText.data(), strText.size(),
        pugi::parse_default | pugi::parse_declaration | pugi::parse_pi | pugi::parse_comments,
        pugi::encoding_utf8);
    const bool bDeep = PruneDeeperThan(doc) != 0;
    if (result && !bDeep && doc.child("settings")) {
        return;
    }
    // A damaged file gives what could be read of it, and the sections found whole further on;
    // the file itself is kept beside it, since the next save replaces it.
    if (bDeep) {
        Log(FormatText(L"%ls has elements nested more than %d levels deep, which are dropped; it is kept as %ls.bad",
                       m_strPath.c_str(), kMaxXmlDepth, m_strPath.c_str()));
    } else {
        Log(FormatText(L"%ls could not be read whole (%s at byte %lld); it is kept as %ls.bad",
                       m_strPath.c_str(), result.description(), static_cast<long long>(result.offset),
                       m_strPath.c_str()));
    }
    m_site.m_pTarget->Files().WriteFile(m_strPath + L".bad", strText);
    if (!doc.child("settings")) {
        doc.reset();
        CreateXML(doc);
    }
    RecoverSections(doc.child("settings"), strText);
    PruneDeeperThan(doc);
}

void CSettings::RecoverSections(pugi::xml_node root, const std::string& strText) {
    for (const std::wstring& strSection : m_Sections) {
        const std::string strName = Utf8(strSection);
        pugi::xml_document fragment;
        if (!root.child(strName.c_str()) && FindWholeElement(strText, strName, fragment)) {
            root.append_copy(fragment.document_element());
        }
    }
}

void CSettings::CreateXML(pugi::xml_document& doc) {
    pugi::xml_node instruction = doc.append_child(pugi::node_pi);
    instruction.set_name("xml");
    instruction.set_value("version='1.0' encoding='utf-8'");
    pugi::xml_node root = doc.append_child("settings");
    for (const std::wstring& strSection : m_Sections) {
        AppendChild(root, strSection);
    }
}

pugi::xml_node CSettings::AppendChild(pugi::xml_node parent, const std::wstring& strName) {
    pugi::xml_node node = parent.append_child(Utf8(strName).c_str());
    if (!node) {
        throw BRANWICK_EXCEPTION(L"Cannot create element " + strName);
    }
    return node;
}

void CSettings::SaveDocument(pugi::xml_document& doc) {
    // The file starts with the "xml" instruction in the store's own form, whatever it held.
    for (pugi::xml_node node = doc.first_child(); node;) {
        pugi::xml_node next = node.next_sibling();
        if (node.type() == pugi::node_declaration ||
            (node.type() == pugi::node_pi && std::strcmp(node.name(), "xml") == 0)) {
            doc.remove_child(node);
        }
        node = next;
    }
    pugi::xml_node instruction = doc.prepend_child(pugi::node_pi);
    instruction.set_name("xml");
    instruction.set_value("version='1.0' encoding='utf-8'");
    std::ostringstream out;
    doc.save(out, "\t", pugi::format_indent | pugi::format_no_declaration, pugi::encoding_utf8);
    Platform::CFileSystem& files = m_site.m_pTarget->Files();
    CStatus status = files.CreateFolders(m_site.m_strDataFolder);
    if (status.Ok()) {
        status = files.WriteFile(m_strPath, out.str());
    }
    if (!status.Ok()) {
        m_strLastError = L"The settings could not be saved: " + status.m_strText + L".";
        throw BRANWICK_EXCEPTION(L"IXMLDOMDocumentPtr::save\n" + status.m_strText,
                                 static_cast<DWORD>(HresultFromWin32(status.m_lCode)));
    }
}

void CSettings::SerializeLastScan(pugi::xml_document& doc, pugi::xml_node node, bool bSave) {
    if (bSave) {
        for (const char* pszCategory : kCategoryElements) {
            RemoveOwnChildren(node, {pszCategory});
        }
        RemoveOwnChildren(node, {"scan-time"});
        for (int i = 0; i < 12; ++i) {
            const CLastScanCounters counters = GetLastScan(1 << i);
            pugi::xml_node category = node.append_child(kCategoryElements[i]);
            category.append_child("found").text().set(counters.found);
            category.append_child("fixed").text().set(counters.fixed);
            category.append_child("ignored").text().set(counters.ignored);
        }
        // The whole 64-bit time: cut to 32 bits it would turn negative in 2038.
        node.append_child("scan-time").text().set(static_cast<long long>(m_LastScanTime));
        return;
    }
    for (int i = 0; i < 12; ++i) {
        std::int32_t values[3] = {};
        for (int c = 0; c < 3; ++c) {
            const std::string strQuery =
                std::string("//settings/last-scan/") + kCategoryElements[i] + "/" + kCounters[c];
            pugi::xml_node counter = doc.select_node(strQuery.c_str()).node();
            if (counter) {
                values[c] = static_cast<std::int32_t>(ReadNumber(counter, 0));
            }
        }
        m_LastScan[1 << i] = {values[0], values[1], values[2]};
    }
    m_LastScanTime = 0;
    pugi::xml_node time = doc.select_node("//settings/last-scan/scan-time").node();
    std::int64_t nTime = 0;
    if (time && ParseNumber(time.text().get(), nTime, INT64_MIN, INT64_MAX)) {
        m_LastScanTime = nTime;
    }
}

void CSettings::SerializeScheduling(pugi::xml_node node, bool bSave) {
    if (bSave) {
        RemoveOwnChildren(node, {"task-trigger", "idle-wait"});
        for (const TASK_TRIGGER& t : m_Triggers) {
            pugi::xml_node trigger = node.append_child("task-trigger");
            trigger.append_attribute("type") = static_cast<int>(t.TriggerType);
            for (const STriggerWord& word : kTriggerWords) {
                trigger.append_child(word.pszName).text().set(t.*word.pField);
            }
            for (const STriggerDword& dword : kTriggerDwords) {
                trigger.append_child(dword.pszName).text().set(t.*dword.pField);
            }
            pugi::xml_node type = trigger.append_child("type");
            type.append_child("item1").text().set(UnionItem1(t));
            type.append_child("item2").text().set(UnionItem2(t));
        }
        WORD wIdle = m_wIdleWait;
        WORD wDeadline = 0;
        if (m_bTask && m_site.m_pTask) {
            m_site.m_pTask->GetIdleWait(wIdle, wDeadline);
        }
        node.append_child("idle-wait").text().set(wIdle);
        return;
    }
    m_Triggers.clear();
    for (pugi::xml_node element : node.children("task-trigger")) {
        TASK_TRIGGER t{};
        t.cbTriggerSize = sizeof(TASK_TRIGGER);
        pugi::xml_attribute type = element.attribute("type");
        std::int64_t nType = 0;
        if (type && !ParseNumber(type.value(), nType)) {
            type.set_value("0");
        }
        t.TriggerType = static_cast<TASK_TRIGGER_TYPE>(nType);
        // Depth first, so that "item1" and "item2" inside "type" are reached too.
        struct SWalker : pugi::xml_tree_walker {
            TASK_TRIGGER* pTrigger;
            bool for_each(pugi::xml_node& child) override {
                if (child.type() != pugi::node_element) {
                    return true;
                }
                for (const STriggerWord& word : kTriggerWords) {
                    if (std::strcmp(child.name(), word.pszName) == 0) {
                        pTrigger->*word.pField = static_cast<WORD>(ReadNumber(child, 0));
                    }
                }
                for (const STriggerDword& dword : kTriggerDwords) {
                    if (std::strcmp(child.name(), dword.pszName) == 0) {
                        pTrigger->*dword.pField = static_cast<DWORD>(ReadNumber(child, 0));
                    }
                }
                if (std::strcmp(child.name(), "item1") == 0) {
                    SetUnionItem1(*pTrigger, static_cast<DWORD>(ReadNumber(child, 0)));
                } else if (std::strcmp(child.name(), "item2") == 0) {
                    SetUnionItem2(*pTrigger, static_cast<WORD>(ReadNumber(child, 0)));
                }
                return true;
            }
        } walker;
        walker.pTrigger = &t;
        element.traverse(walker);
        // The task holds only records the scheduler accepts, and the list must stay index for
        // index equal to the task's.
        if (Platform::ValidateTrigger(t) != S_OK) {
            Log(L"A trigger of settings.xml that cannot be scheduled is left out:" +
                TriggerText(t));
            continue;
        }
        m_Triggers.push_back(t);
    }
    std::int64_t nIdle = 0;
    pugi::xml_node idle = node.child("idle-wait");
    if (idle && ParseNumber(idle.text().get(), nIdle)) {
        m_wIdleWait = static_cast<WORD>(nIdle);
    }
}

// Written only once an address is set, so that the files of users who never set one stay as
// they were.
void CSettings::SerializeFormatService(pugi::xml_node root, bool bSave) {
    pugi::xml_node node = root.child("format-service");
    if (!bSave) {
        m_strFormatService = Utf8ToWide(node.text().get());
        return;
    }
    if (!node && !m_strFormatService.empty()) {
        node = root.append_child("format-service");
    }
    if (node) {
        node.text().set(Utf8(m_strFormatService).c_str());
    }
}

void CSettings::SerializeDisabledItems(pugi::xml_node node, bool bSave) {
    if (bSave) {
        node.remove_children();
        for (const std::wstring& strRecord : m_DisabledItems) {
            node.append_child("item").text().set(Utf8(strRecord).c_str());
        }
        return;
    }
    m_DisabledItems.clear();
    for (pugi::xml_node item : node.children()) {
        if (item.type() == pugi::node_element) {
            m_DisabledItems.insert(Utf8ToWide(item.text().get()));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The schedule

void CSettings::Synchronize() {
    Guard(L"Synchronize", L"", [&] {
        if (!m_site.m_pTask) {
            throw BRANWICK_EXCEPTION(L"m_pITask reference");
        }
        CTask& task = *m_site.m_pTask;
        const WORD wCount = task.GetTriggersCount();
        WORD wIdle = 0;
        WORD wDeadline = 0;
        task.GetIdleWait(wIdle, wDeadline);
        // Rebuilding the triggers rewrites the task and restarts its timer, which the user
        // manager could take for a new log-on; nothing is done when they are equal already.
        bool bEqual = wCount == m_Triggers.size() && wIdle == m_wIdleWait && wDeadline == 0;
        for (WORD i = 0; bEqual && i < wCount; ++i) {
            const TASK_TRIGGER stored = task.GetTrigger(i);
            bEqual = std::memcmp(&stored, &m_Triggers[i], sizeof stored) == 0;
        }
        if (bEqual) {
            return;
        }
        for (int i = wCount - 1; i >= 0; --i) {
            task.RemoveTrigger(static_cast<WORD>(i));
        }
        for (const TASK_TRIGGER& t : m_Triggers) {
            task.AddTrigger(t);
        }
        task.SetIdleWait(m_wIdleWait, 0);
    });
}

WORD CSettings::AddTrigger(const TASK_TRIGGER& trigger) {
    WORD wIndex = 0xFFFF;
    Guard(L"AddTrigger", TriggerText(trigger), [&] {
        if (!m_site.m_pTask) {
            throw BRANWICK_EXCEPTION(L"m_pITask reference");
        }
        wIndex = m_site.m_pTask->AddTrigger(trigger);
        m_Triggers.push_back(trigger);
    });
    if (wIndex != 0xFFFF) {
        Save();
    }
    return wIndex;
}

void CSettings::DelTrigger(const TASK_TRIGGER& trigger) {
    Guard(L"DelTrigger", TriggerText(trigger), [&] {
        for (size_t i = 0; i < m_Triggers.size(); ++i) {
            const TASK_TRIGGER& t = m_Triggers[i];
            // item1 is the union's first two 16-bit words.
            if (t.TriggerType == trigger.TriggerType && UnionItem1(t) == UnionItem1(trigger) &&
                t.wStartHour == trigger.wStartHour && t.wStartMinute == trigger.wStartMinute) {
                if (!m_site.m_pTask) {
                    throw BRANWICK_EXCEPTION(L"m_pITask reference");
                }
                m_site.m_pTask->RemoveTrigger(static_cast<WORD>(i));
                m_Triggers.erase(m_Triggers.begin() + static_cast<std::ptrdiff_t>(i));
                Save();
                return;
            }
        }
    });
}

void CSettings::DelTriggerAt(WORD wIndex) {
    if (!m_site.m_pTask) {
        throw BRANWICK_EXCEPTION(L"m_pITask reference");
    }
    m_site.m_pTask->RemoveTrigger(wIndex);
    if (wIndex < m_Triggers.size()) {
        m_Triggers.erase(m_Triggers.begin() + wIndex);
    }
    Save();
}

void CSettings::ChangeTrigger(WORD wIndex, const TASK_TRIGGER& trigger) {
    const bool bChanged = Guard(L"ChangeTrigger", TriggerText(trigger), [&] {
        if (!m_site.m_pTask) {
            throw BRANWICK_EXCEPTION(L"m_pITask reference");
        }
        m_site.m_pTask->ChangeTrigger(wIndex, trigger);
        if (wIndex < m_Triggers.size()) {
            m_Triggers[wIndex] = trigger;
        }
    });
    if (bChanged) {
        Save();
    }
}

std::wstring CSettings::GetTriggerInfo(WORD wIndex) {
    std::wstring strInfo;
    Guard(L"GetTriggerInfo", FormatText(L"wNum: %u", static_cast<unsigned>(wIndex)), [&] {
        if (!m_site.m_pTask) {
            throw BRANWICK_EXCEPTION(L"m_pITask reference");
        }
        strInfo = m_site.m_pTask->GetTriggerInfo(wIndex);
    });
    return strInfo;
}

std::wstring CSettings::GetTempTriggerInfo(const TASK_TRIGGER& trigger) const {
    if (!m_site.m_pTask) {
        return {};
    }
    try {
        return m_site.m_pTask->GetTempTriggerInfo(trigger);
    } catch (const CBranwickException&) {
        return {};
    }
}

void CSettings::GetIdleWait(WORD& wIdleMinutes, WORD& wDeadlineMinutes) {
    wIdleMinutes = m_wIdleWait;
    wDeadlineMinutes = 0;
    Guard(L"GetIdleWait", L"", [&] {
        if (!m_site.m_pTask) {
            throw BRANWICK_EXCEPTION(L"m_pITask reference");
        }
        m_site.m_pTask->GetIdleWait(wIdleMinutes, wDeadlineMinutes);
    });
}

void CSettings::SetIdleWait(WORD wIdleMinutes, WORD wDeadlineMinutes) {
    if (!m_site.m_pTask) {
        throw BRANWICK_EXCEPTION(L"m_pITask reference");
    }
    m_site.m_pTask->SetIdleWait(wIdleMinutes, wDeadlineMinutes);
    m_wIdleWait = wIdleMinutes;
    Save();
}

// ---------------------------------------------------------------------------------------------
// Options

void CSettings::SetGeneralFlag(DWORD dwBit, bool bOn) {
    Change([&] { m_dwGeneral = bOn ? (m_dwGeneral | dwBit) : (m_dwGeneral & ~dwBit); });
}

void CSettings::AddScanFlags(DWORD dwBits) {
    Change([&] { m_dwScanFlags |= dwBits; });
}

void CSettings::RemoveScanFlags(DWORD dwBits) {
    Change([&] { m_dwScanFlags &= ~dwBits; });
}

void CSettings::AddHistoryFlags(DWORD dwBits) {
    Change([&] { m_dwHistoryFlags |= dwBits; });
}

void CSettings::RemoveHistoryFlags(DWORD dwBits) {
    Change([&] { m_dwHistoryFlags &= ~dwBits; });
}

void CSettings::SetLastScan(std::int32_t nScanType, std::int32_t nFound, std::int32_t nFixed,
                            std::int32_t nIgnored) {
    m_LastScan[nScanType] = {nFound, nFixed, nIgnored};
}

bool CSettings::SaveFixResult(const std::map<std::int32_t, CLastScanCounters>& counters,
                              std::int64_t nTime) {
    return Change([&] {
        for (const auto& [nScanType, counter] : counters) {
            m_LastScan[nScanType] = counter;
        }
        m_LastScanTime = nTime;
    });
}

CLastScanCounters CSettings::GetLastScan(std::int32_t nScanType) const {
    auto it = m_LastScan.find(nScanType);
    return it == m_LastScan.end() ? CLastScanCounters{} : it->second;
}

bool CSettings::AddDisabledItem(const std::wstring& strRecord) {
    bool bAdded = false;
    if (Change([&] { bAdded = m_DisabledItems.insert(strRecord).second; }) || !bAdded) {
        return true;
    }
    m_DisabledItems.erase(strRecord);
    return false;
}

bool CSettings::RemoveDisabledItem(const std::wstring& strRecord) {
    bool bRemoved = false;
    if (Change([&] { bRemoved = m_DisabledItems.erase(strRecord) != 0; }) || !bRemoved) {
        return true;
    }
    m_DisabledItems.insert(strRecord);
    return false;
}

void CSettings::SetFormatService(const std::wstring& strUrl) {
    m_strFormatService = strUrl;
    Save();
}

void CSettings::SetAutoRun(bool bOn) {
    const LONG lResult = Platform::SetAutostart(kAutostartName, m_site.m_strProgramPath, bOn);
    if (lResult != ERROR_SUCCESS) {
        Log(FormatText(L"The autostart entry could not be %ls (error %d)",
                       bOn ? L"written" : L"removed", static_cast<int>(lResult)));
    }
}

bool CSettings::IsAutoRun() const {
    return Platform::IsAutostart(kAutostartName);
}

}  // namespace Branwick
