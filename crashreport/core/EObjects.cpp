#include "crashreport/core/EObjects.h"

#include <cxxabi.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "crashreport/core/ECommon.h"
#include "crashreport/core/ESystem.h"
#include "platform/StringList.h"
#include "platform/TextCodec.h"

namespace kv::crashreport {
namespace {

std::atomic<ThreadExceptionClassRecordProvider> g_recordProvider{nullptr};

// The three descriptor kinds of the runtime: no base, one public base, any bases.
struct NoBase {
    virtual ~NoBase() = default;
};
struct OneBase : NoBase {};
struct OtherBase {
    virtual ~OtherBase() = default;
};
struct TwoBases : NoBase, OtherBase {};

const void* DescriptorVtable(const std::type_info& type)
{
    const void* vtable = nullptr;
    std::memcpy(&vtable, &type, sizeof vtable);
    return vtable;
}

// A class descriptor of another module's copy of the runtime: its vtable's
// type slot names one of the runtime's three descriptor classes.
bool IsForeignClassDescriptor(const void* vtable)
{
    static const char* const names[] = {"N10__cxxabiv117__class_type_infoE", "N10__cxxabiv120__si_class_type_infoE",
                                        "N10__cxxabiv121__vmi_class_type_infoE"};
    const auto* slots = static_cast<const void* const*>(vtable);
    if (!IsReadableMemory(slots - 1, sizeof(void*))) return false;
    const void* type = slots[-1];
    if (!IsReadableMemory(type, 2 * sizeof(void*))) return false;
    const char* name = nullptr;
    std::memcpy(&name, static_cast<const char*>(type) + sizeof(void*), sizeof name);
    for (const char* known : names) {
        const std::size_t length = std::strlen(known) + 1;
        if (IsReadableMemory(name, length) && std::memcmp(name, known, length) == 0) return true;
    }
    return false;
}

bool IsClassDescriptor(const void* vtable)
{
    static const void* const known[] = {DescriptorVtable(typeid(NoBase)), DescriptorVtable(typeid(OneBase)),
                                        DescriptorVtable(typeid(TwoBases))};
    for (const void* candidate : known)
        if (candidate == vtable) return true;
    // Each module links its own runtime: an object raised in a DLL of the
    // process has that DLL's descriptors.
    return IsForeignClassDescriptor(vtable);
}

// A NUL-terminated text of at most `limit` bytes, read page by page.
bool IsReadableText(const char* text, std::size_t limit)
{
    for (std::size_t i = 0; i < limit; ++i) {
        if ((i == 0 || (reinterpret_cast<std::uintptr_t>(text + i) & 0xFFF) == 0) && !IsReadableMemory(text + i, 1))
            return false;
        if (text[i] == '\0') return true;
    }
    return false;
}

std::string Demangle(const char* mangled)
{
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> name(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                     &std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(mangled);
}

std::string LastNamePart(const std::string& name)
{
    const std::size_t colons = name.rfind("::");
    return colons == std::string::npos ? name : name.substr(colons + 2);
}

bool NameMatches(const std::type_info& type, const std::string& upperName)
{
    const std::string full = UpperCaseText(ClassNameOfType(type));
    return full == upperName || LastNamePart(full) == upperName;
}

template <class Visit>
bool AnyAncestor(const std::type_info* type, bool checked, const Visit& visit)
{
    if (!type || (checked && !IsValidVMT(type))) return false;
    if (visit(*type)) return true;
    if (const auto* single = dynamic_cast<const abi::__si_class_type_info*>(type))
        return AnyAncestor(single->__base_type, checked, visit);
    if (const auto* multiple = dynamic_cast<const abi::__vmi_class_type_info*>(type)) {
        for (unsigned i = 0; i < multiple->__base_count; ++i)
            if (AnyAncestor(multiple->__base_info[i].__base_type, checked, visit)) return true;
    }
    return false;
}

bool InheritsFromName(const std::type_info* type, std::string_view name, bool checked)
{
    const std::string upperName = UpperCaseText(TrimText(name));
    return AnyAncestor(type, checked, [&](const std::type_info& t) { return NameMatches(t, upperName); });
}

const std::type_info* ClassOfUnchecked(const void* object)
{
    // The vtable's slot before the first virtual function holds the most derived class.
    const void* const* vtable = *static_cast<const void* const* const*>(object);
    return static_cast<const std::type_info*>(vtable[-1]);
}

} // namespace

bool IsValidClassName(std::string_view shortName)
{
    for (char c : shortName)
        if (static_cast<unsigned char>(c) < 32) return false;
    return true;
}

bool IsValidVMT(const std::type_info* classRef)
{
    if (!IsReadableMemory(classRef, 2 * sizeof(void*))) return false;
    const void* vtable = nullptr;
    const char* mangled = nullptr;
    std::memcpy(&vtable, classRef, sizeof vtable);
    std::memcpy(&mangled, reinterpret_cast<const char*>(classRef) + sizeof vtable, sizeof mangled);
    if (!IsClassDescriptor(vtable) || !IsReadableText(mangled, 1024)) return false;
    return IsValidClassName(Demangle(mangled));
}

bool IsValidObject(const void* object)
{
    if (!IsReadableMemory(object, sizeof(void*))) return false;
    const char* vtable = nullptr;
    std::memcpy(&vtable, object, sizeof vtable);
    if (!IsReadableMemory(vtable - 2 * sizeof(void*), 2 * sizeof(void*))) return false;
    return IsValidVMT(ClassOfUnchecked(object));
}

const std::type_info* ClassOf(const void* object) { return IsValidObject(object) ? ClassOfUnchecked(object) : nullptr; }

std::string ClassNameOfType(const std::type_info& classRef) { return Demangle(classRef.name()); }

std::string ClassNameOf(const void* object)
{
    const std::type_info* type = ClassOf(object);
    return type ? ClassNameOfType(*type) : std::string();
}

std::vector<std::string> ClassParentsOf(const std::type_info& classRef)
{
    std::vector<std::string> names;
    AnyAncestor(&classRef, true, [&](const std::type_info& t) {
        names.push_back(ClassNameOfType(t));
        return false;
    });
    return names;
}

bool ClassInheritsFromName(const std::type_info* classRef, std::string_view name)
{
    return InheritsFromName(classRef, name, true);
}

bool ObjectInheritsFromName(const void* object, std::string_view name)
{
    return ClassInheritsFromName(ClassOf(object), name);
}

bool InheritsFromByName(const void* object, const std::type_info& classRef)
{
    return ObjectInheritsFromName(object, ClassNameOfType(classRef));
}

bool InheritsFromAnyByName(const void* object, std::initializer_list<const std::type_info*> classes)
{
    for (const std::type_info* type : classes)
        if (type && InheritsFromByName(object, *type)) return true;
    return false;
}

bool ClassInheritsFromNameUnchecked(const std::type_info* classRef, std::string_view name)
{
    return InheritsFromName(classRef, name, false);
}

bool ObjectInheritsFromNameUnchecked(const void* object, std::string_view name)
{
    return object && ClassInheritsFromNameUnchecked(ClassOfUnchecked(object), name);
}

bool IsReportableObject(const void* object)
{
    return IsValidObject(object) && !ObjectInheritsFromName(object, "EAbort");
}

bool IsNativeRaisedException(const void* object) { return !ObjectInheritsFromName(object, "EExternal"); }

TActiveXException::TActiveXException(std::string_view exceptionType, std::string_view exceptionMessage)
    : Exception(AnsiToWide(exceptionMessage))
{
    parents_ = AnsiStringList(exceptionType).Lines();
    if (!parents_.empty()) exceptionType_ = parents_.front();
}

void SetThreadExceptionClassRecordProvider(ThreadExceptionClassRecordProvider provider) noexcept
{
    g_recordProvider.store(provider);
}

void RecordThreadExceptionClass(const void* object, std::int32_t value)
{
    const ThreadExceptionClassRecordProvider provider = g_recordProvider.load();
    ThreadExceptionClassRecord* record = provider ? provider() : nullptr;
    if (!record) return;
    const std::string name = ClassNameOf(object).substr(0, sizeof record->ClassName - 1);
    std::memcpy(record->ClassName, name.c_str(), name.size() + 1);
    record->Value = value;
}

} // namespace kv::crashreport
