// Fixes: one change each that repairs a problem and that a backup can undo (delete a key with
// everything below it, delete one value), and the container that runs several in order.
//
// A fix is built by a scan and run later by a fix run, possibly in the other module: it holds only
// names, and is told the target it changes and the sink for its log lines when it runs.
// A fix is used by one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "platform/registry/registry.h"
#include "platform/target/target.h"
#include "platform/win32/win32.h"

namespace Branwick {

class CMessageSink;
class CRecycler;

// What a running fix works on: the target whose registry and files it changes, and the sink its
// log lines go to. Both must outlive the fix run.
struct SFixContext {
    const Platform::CTarget& target;
    CMessageSink* pSink = nullptr;  // null: log lines are dropped
    CRecycler* pRecycler = nullptr;  // null: every log line is a new message

    // Posts a CLogMessage with the text, or with the text and the number in decimal; nothing is
    // composed when no one reads log messages.
    void Log(std::wstring_view strText) const;
    void Log(std::wstring_view strText, long nNumber) const;
};

class IFix {
public:
    // A new heap copy of the same fix (an open key is not copied).
    virtual std::unique_ptr<IFix> Clone() const = 0;
    // Makes the change in the context's target. 0 on success, non-zero on failure.
    virtual int Fix(const SFixContext& context) = 0;
    // A short text saying what will be deleted, for display; may be empty.
    virtual std::wstring GetDescription() const = 0;
    // Appends to parent (an element of a backup document, RegData.h) what a restore needs to undo
    // Fix(), read from `registry`. What cannot be read is left out; nothing is reported.
    virtual void Backup(pugi::xml_node parent, const Platform::CRegistry& registry) const = 0;
    // Whether a restore of that backup could undo Fix() in `registry` as it is now; the refusal
    // says why. A fix that deletes nothing a store could refuse to take back: success.
    virtual CStatus CheckRestorable(const Platform::CRegistry& /*registry*/) const { return {}; }
    virtual ~IFix() = default;

protected:
    IFix() = default;
    IFix(const IFix&) = default;
    IFix& operator=(const IFix&) = default;
};

// A fix on one key of the target's registry, opened in the view the fix was made for.
class CRegistryFix : public IFix {
public:
    // strValueName is empty for the key itself or the default value; strValueData is the value's
    // data as text, for GetDescription() only; dwRegSam is 0, KEY_WOW64_64KEY or KEY_WOW64_32KEY.
    CRegistryFix(HKEY hRoot, std::wstring strKeyPath, std::wstring strValueName,
                 std::wstring strValueData, REGSAM dwRegSam);
    CRegistryFix(const CRegistryFix& other);
    CRegistryFix& operator=(const CRegistryFix&) = delete;

    // "(Default) = <data>;" or "<name> = <data>;"; empty when the data text is empty.
    std::wstring GetDescription() const override;

    // Opens the key into m_hKey for deleting and posts "CDeleteRegistryKey::OpenKey() returns %d".
    // Returns the Win32 result.
    LONG OpenKey(const SFixContext& context);

protected:
    Platform::CRegKey m_hKey;  // open only while Fix() runs
    HKEY m_hRoot;
    std::wstring m_strKeyPath;
    std::wstring m_strValueName;
    std::wstring m_strValueData;
    REGSAM m_dwRegSam;
};

// Deletes the key with all its values and subkeys.
class CDeleteRegistryKey : public CRegistryFix {
public:
    using CRegistryFix::CRegistryFix;
    std::unique_ptr<IFix> Clone() const override;
    int Fix(const SFixContext& context) override;
    // A "Registry_Key" with the whole key.
    void Backup(pugi::xml_node parent, const Platform::CRegistry& registry) const override;
    CStatus CheckRestorable(const Platform::CRegistry& registry) const override;
};

// Deletes the value named by the value name from the key.
class CDeleteRegistryValue : public CRegistryFix {
public:
    using CRegistryFix::CRegistryFix;
    std::unique_ptr<IFix> Clone() const override;
    int Fix(const SFixContext& context) override;
    // An "INCORRECT_VALUE" with the value.
    void Backup(pugi::xml_node parent, const Platform::CRegistry& registry) const override;
    CStatus CheckRestorable(const Platform::CRegistry& registry) const override;
};

// Fixes run together in the order they were added. Owns them; copies copy every fix.
class CFixContainer : public IFix {
public:
    CFixContainer() = default;
    CFixContainer(const CFixContainer& other);
    CFixContainer& operator=(const CFixContainer& other);
    CFixContainer(CFixContainer&&) = default;
    CFixContainer& operator=(CFixContainer&&) = default;

    std::unique_ptr<IFix> Clone() const override;
    // Runs every fix, all of them even after a failure. 1 if any failed, else 0.
    int Fix(const SFixContext& context) override;
    // The first fix's description; empty when there is none.
    std::wstring GetDescription() const override;
    // Every fix's backup, in order.
    void Backup(pugi::xml_node parent, const Platform::CRegistry& registry) const override;
    // The first fix's refusal.
    CStatus CheckRestorable(const Platform::CRegistry& registry) const override;

    // Appends a fix; a null one is ignored.
    void AddFix(std::unique_ptr<IFix> pFix);
    // Destroys every fix.
    void Clear() { m_vcFixes.clear(); }
    const std::vector<std::unique_ptr<IFix>>& GetFixes() const { return m_vcFixes; }

protected:
    std::vector<std::unique_ptr<IFix>> m_vcFixes;
};

}  // namespace Branwick
