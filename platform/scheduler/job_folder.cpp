// The job file (XML of our own) and its systemd mirror. The reader and writer of each format sit
// side by side so that a change to one is made next to the other.
#include <pugixml.hpp>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "platform/atomic/atomic_file.h"
#include "platform/desktop/desktop.h"
#include "platform/scheduler/scheduler.h"
#include "platform/scheduler/trigger_time.h"

namespace Branwick::Platform {
namespace fs = std::filesystem;
namespace {

// Every field of a trigger record that the job file keeps, by the record's own names; the union
// members are kept under the names of the kind they belong to (kind -1: every kind).
struct TriggerField {
    const char* name;
    size_t offset;
    size_t size;
    int kind;
};

constexpr size_t kUnion = offsetof(TASK_TRIGGER, Type);
constexpr TriggerField kTriggerFields[] = {
    {"wBeginYear", offsetof(TASK_TRIGGER, wBeginYear), 2, -1},
    {"wBeginMonth", offsetof(TASK_TRIGGER, wBeginMonth), 2, -1},
    {"wBeginDay", offsetof(TASK_TRIGGER, wBeginDay), 2, -1},
    {"wEndYear", offsetof(TASK_TRIGGER, wEndYear), 2, -1},
    {"wEndMonth", offsetof(TASK_TRIGGER, wEndMonth), 2, -1},
    {"wEndDay", offsetof(TASK_TRIGGER, wEndDay), 2, -1},
    {"wStartHour", offsetof(TASK_TRIGGER, wStartHour), 2, -1},
    {"wStartMinute", offsetof(TASK_TRIGGER, wStartMinute), 2, -1},
    {"MinutesDuration", offsetof(TASK_TRIGGER, MinutesDuration), 4, -1},
    {"MinutesInterval", offsetof(TASK_TRIGGER, MinutesInterval), 4, -1},
    {"rgFlags", offsetof(TASK_TRIGGER, rgFlags), 4, -1},
    {"wRandomMinutesInterval", offsetof(TASK_TRIGGER, wRandomMinutesInterval), 2, -1},
    {"DaysInterval", kUnion, 2, TASK_TIME_TRIGGER_DAILY},
    {"WeeksInterval", kUnion, 2, TASK_TIME_TRIGGER_WEEKLY},
    {"rgfDaysOfTheWeek", kUnion + 2, 2, TASK_TIME_TRIGGER_WEEKLY},
    {"rgfDays", kUnion, 4, TASK_TIME_TRIGGER_MONTHLYDATE},
    {"rgfMonths", kUnion + 4, 2, TASK_TIME_TRIGGER_MONTHLYDATE},
    {"wWhichWeek", kUnion, 2, TASK_TIME_TRIGGER_MONTHLYDOW},
    {"rgfDaysOfTheWeek", kUnion + 2, 2, TASK_TIME_TRIGGER_MONTHLYDOW},
    {"rgfMonths", kUnion + 4, 2, TASK_TIME_TRIGGER_MONTHLYDOW},
};

DWORD GetField(const TASK_TRIGGER& t, const TriggerField& field) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&t) + field.offset;
    if (field.size == 2) {
        WORD value;
        std::memcpy(&value, bytes, 2);
        return value;
    }
    DWORD value;
    std::memcpy(&value, bytes, 4);
    return value;
}

void SetField(TASK_TRIGGER& t, const TriggerField& field, DWORD value) {
    auto* bytes = reinterpret_cast<unsigned char*>(&t) + field.offset;
    if (field.size == 2) {
        WORD word = static_cast<WORD>(value);
        std::memcpy(bytes, &word, 2);
    } else {
        std::memcpy(bytes, &value, 4);
    }
}

bool FieldApplies(const TriggerField& field, const TASK_TRIGGER& t) {
    return field.kind < 0 || field.kind == t.TriggerType;
}

std::string Utf8(const std::wstring& text) {
    return pugi::as_utf8(text.c_str());
}
std::wstring Wide(const char* text) {
    return pugi::as_wide(text);
}

std::string JobXml(const std::wstring& name, const CScheduledJob& job) {
    pugi::xml_document doc;
    pugi::xml_node declaration = doc.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "utf-8";
    pugi::xml_node root = doc.append_child("job");
    root.append_attribute("name") = Utf8(name).c_str();
    root.append_child("application").text() = Utf8(job.m_strApplication).c_str();
    root.append_child("working-directory").text() = Utf8(job.m_strWorkingDirectory).c_str();
    root.append_child("parameters").text() = Utf8(job.m_strParameters).c_str();
    root.append_child("account").text() = Utf8(job.m_strAccount).c_str();
    root.append_child("priority").text() = job.m_dwPriority;
    root.append_child("flags").text() = job.m_dwFlags;
    pugi::xml_node idle = root.append_child("idle-wait");
    idle.append_attribute("minutes") = job.m_wIdleMinutes;
    idle.append_attribute("deadline") = job.m_wDeadlineMinutes;
    for (const TASK_TRIGGER& t : job.m_vcTriggers) {
        pugi::xml_node trigger = root.append_child("trigger");
        trigger.append_attribute("TriggerType") = static_cast<int>(t.TriggerType);
        for (const TriggerField& field : kTriggerFields) {
            if (FieldApplies(field, t)) {
                trigger.append_attribute(field.name) = GetField(t, field);
            }
        }
    }
    std::ostringstream out;
    doc.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
    return out.str();
}

TASK_TRIGGER ReadTrigger(const pugi::xml_node& node) {
    TASK_TRIGGER t{};
    t.cbTriggerSize = sizeof(TASK_TRIGGER);
    t.TriggerType = static_cast<TASK_TRIGGER_TYPE>(node.attribute("TriggerType").as_int(-1));
    for (const TriggerField& field : kTriggerFields) {
        if (FieldApplies(field, t)) {
            SetField(t, field, node.attribute(field.name).as_uint(0));
        }
    }
    return t;
}

// A file cut short or edited by hand still yields what parsed before the damage.
void ReadJob(const pugi::xml_node& root, CScheduledJob& job) {
    job = CScheduledJob{};
    job.m_strApplication = Wide(root.child("application").text().get());
    job.m_strWorkingDirectory = Wide(root.child("working-directory").text().get());
    job.m_strParameters = Wide(root.child("parameters").text().get());
    job.m_strAccount = Wide(root.child("account").text().get());
    job.m_dwPriority = root.child("priority").text().as_uint(job.m_dwPriority);
    job.m_dwFlags = root.child("flags").text().as_uint(job.m_dwFlags);
    pugi::xml_node idle = root.child("idle-wait");
    job.m_wIdleMinutes = static_cast<WORD>(idle.attribute("minutes").as_uint(job.m_wIdleMinutes));
    job.m_wDeadlineMinutes =
        static_cast<WORD>(idle.attribute("deadline").as_uint(job.m_wDeadlineMinutes));
    for (pugi::xml_node node : root.children("trigger")) {
        TASK_TRIGGER t = ReadTrigger(node);
        if (ValidateTrigger(t) == S_OK) {
            job.m_vcTriggers.push_back(t);
        }
    }
}

// systemd splits ExecStart= at blanks, expands "%" specifiers and, in the arguments, "$"
// variables, and reads C escapes inside quotes: each word is quoted so that blanks and such
// characters survive.
std::string ExecWord(const std::string& word, bool argument) {
    std::string quoted = "\"";
    for (char c : word) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        if (c == '%' || (argument && c == '$')) {
            quoted += c;
        }
        quoted += c;
    }
    return quoted + "\"";
}

// systemd refuses a program path with quotes or backslashes in it; env then starts the program.
std::string ExecCommand(const std::string& program) {
    if (program.find_first_of("\"'\\") == std::string::npos) {
        return ExecWord(program, false);
    }
    return "/usr/bin/env " + ExecWord(program, true);
}

std::string EscapePercent(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        escaped += c;
        if (c == '%') {
            escaped += '%';
        }
    }
    return escaped;
}

std::string ServiceText(const std::wstring& name, const CScheduledJob& job) {
    std::string exec = ExecCommand(Utf8(job.m_strApplication));
    std::istringstream parameters(Utf8(job.m_strParameters));
    for (std::string word; parameters >> word;) {
        exec += " " + ExecWord(word, true);
    }
    std::string text = "# Written by Corvane for its scheduled task \"" + Utf8(name) +
                       "\"; it is rewritten whenever the schedule changes.\n"
                       "[Unit]\nDescription=Corvane scheduled scan\n\n[Service]\nType=oneshot\n";
    if (!job.m_strWorkingDirectory.empty()) {
        text += "WorkingDirectory=" + EscapePercent(Utf8(job.m_strWorkingDirectory)) + "\n";
    }
    return text + "ExecStart=" + exec + "\n";
}

// The timer, or an empty text when no trigger of the job is one for systemd.
std::string TimerText(const std::wstring& name, const CScheduledJob& job,
                      const std::string& serviceUnit) {
    std::string triggers;
    std::string notes;
    for (size_t i = 0; i < job.m_vcTriggers.size(); ++i) {
        const TASK_TRIGGER& t = job.m_vcTriggers[i];
        if (ValidateTrigger(t) != S_OK || (t.rgFlags & TASK_TRIGGER_FLAG_DISABLED)) {
            continue;
        }
        if (TriggerNeedsCorvane(t)) {
            notes += "# Trigger " + std::to_string(i) + " (" +
                     Utf8(DescribeTrigger(t, job.m_wIdleMinutes)) +
                     ") is checked by Corvane itself.\n";
        } else if (t.TriggerType == TASK_EVENT_TRIGGER_AT_SYSTEMSTART) {
            // The desktop hands its display to the user manager only after the manager starts.
            triggers += "OnBootSec=1min\n";
        } else if (t.TriggerType == TASK_EVENT_TRIGGER_AT_LOGON) {
            triggers += "OnStartupSec=1min\n";
        } else {
            for (const std::string& expression : CalendarExpressions(t)) {
                triggers += "OnCalendar=" + expression + "\n";
            }
        }
    }
    if (triggers.empty()) {
        return "";
    }
    return "# Written by Corvane for its scheduled task \"" + Utf8(name) +
           "\"; it is rewritten whenever the schedule changes.\n" + notes +
           "[Unit]\nDescription=Corvane scheduled scan\n\n[Timer]\n" + triggers +
           // The stamp of the last run keeps a stop and start of the timer (every change of the
           // schedule) from firing the log-on and start-up triggers again; it also makes up a
           // calendar run missed while the computer was off.
           "Persistent=true\nUnit=" + serviceUnit + "\n\n[Install]\nWantedBy=timers.target\n";
}

std::string UnitBase(const std::wstring& name) {
    std::string base;
    for (wchar_t c : name) {
        bool keep = (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'-' || c == L'_';
        bool upper = c >= L'A' && c <= L'Z';
        base += keep ? static_cast<char>(c) : upper ? static_cast<char>(c - L'A' + L'a') : '-';
    }
    return base + "-scan";
}

std::string UnitFolder() {
    return ConfigHome() + "/systemd/user";
}
std::string WantsLink(const std::wstring& name) {
    return UnitFolder() + "/timers.target.wants/" + UnitBase(name) + ".timer";
}

HRESULT WriteFile(const std::string& path, const std::string& text) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::string error;
    return SaveFileAtomically(path, text, error) ? S_OK : HresultFromWin32(ERROR_WRITE_FAULT);
}

void RemoveFile(const std::string& path) {
    std::error_code ec;
    fs::remove(path, ec);
}

HRESULT Enable(const std::wstring& name, const std::string& timerPath) {
    const std::string link = WantsLink(name);
    std::error_code ec;
    if (fs::is_symlink(link, ec) && fs::read_symlink(link, ec) == timerPath) {
        return S_OK;
    }
    fs::create_directories(fs::path(link).parent_path(), ec);
    fs::remove(link, ec);
    fs::create_symlink(timerPath, link, ec);
    return ec ? HresultFromWin32(ERROR_WRITE_FAULT) : S_OK;
}

}  // namespace

CJobFolder::CJobFolder(IUserManager& manager) : m_manager(manager) {}

std::string CJobFolder::JobPath(const std::wstring& name) const {
    return ConfigHome() + "/corvane/tasks/" + Utf8(name) + ".job";
}
std::string CJobFolder::TimerPath(const std::wstring& name) const {
    return UnitFolder() + "/" + UnitBase(name) + ".timer";
}
std::string CJobFolder::ServicePath(const std::wstring& name) const {
    return UnitFolder() + "/" + UnitBase(name) + ".service";
}

bool CJobFolder::Exists(const std::wstring& name) const {
    std::error_code ec;
    return fs::is_regular_file(JobPath(name), ec);
}

HRESULT CJobFolder::Load(const std::wstring& name, CScheduledJob& job) const {
    if (!Exists(name)) {
        return HresultFromWin32(ERROR_FILE_NOT_FOUND);
    }
    pugi::xml_document doc;
    doc.load_file(JobPath(name).c_str());
    ReadJob(doc.child("job"), job);
    return S_OK;
}

HRESULT CJobFolder::Save(const std::wstring& name, const CScheduledJob& job) {
    if (name.empty() || name.find(L'/') != std::wstring::npos) {
        return E_INVALIDARG;
    }
    HRESULT result = WriteFile(JobPath(name), JobXml(name, job));
    if (result != S_OK) {
        return result;
    }
    const std::string timerUnit = UnitBase(name) + ".timer";
    const std::string timer = TimerText(name, job, UnitBase(name) + ".service");
    const bool running = m_manager.IsRunning();
    if (!timer.empty()) {
        result = WriteFile(ServicePath(name), ServiceText(name, job));
        if (result == S_OK) {
            result = WriteFile(TimerPath(name), timer);
        }
        if (result == S_OK) {
            result = Enable(name, TimerPath(name));
        }
        if (result == S_OK && running) {
            result = HresultFromWin32(m_manager.Apply(timerUnit, true));
        }
    } else {
        std::error_code ec;
        if (running && fs::exists(TimerPath(name), ec)) {
            result = HresultFromWin32(m_manager.Apply(timerUnit, false));
        }
        RemoveFile(WantsLink(name));
        RemoveFile(TimerPath(name));
        RemoveFile(ServicePath(name));
    }
    if (result != S_OK) {
        return result;
    }
    return running ? S_OK : SCHED_E_SERVICE_NOT_RUNNING;
}

}  // namespace Branwick::Platform
