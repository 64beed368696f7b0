#pragma once
// Checks on objects and classes that may come from damaged memory: the
// reporter looks at exception objects after a crash, so every pointer is
// tested for readability before it is followed. A "class" is the C++
// type_info of a polymorphic type; names are the demangled names, and a
// class matches a name by its full name ("kv::EAbort") or its last part
// ("EAbort"), so that the tests work across modules.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "platform/Exceptions.h"

namespace kv::crashreport {

bool IsValidClassName(std::string_view shortName);
// The type_info is readable, is one of the runtime's class descriptors and
// names its class with printable characters.
bool IsValidVMT(const std::type_info* classRef);
// A polymorphic object whose class passes IsValidVMT.
bool IsValidObject(const void* object);
// The class of a valid object; nullptr otherwise.
const std::type_info* ClassOf(const void* object);

std::string ClassNameOfType(const std::type_info& classRef);
std::string ClassNameOf(const void* object);
// The class name and the names of its ancestors, the class first.
std::vector<std::string> ClassParentsOf(const std::type_info& classRef);

bool ClassInheritsFromName(const std::type_info* classRef, std::string_view name);
bool ObjectInheritsFromName(const void* object, std::string_view name);
bool InheritsFromByName(const void* object, const std::type_info& classRef);
bool InheritsFromAnyByName(const void* object, std::initializer_list<const std::type_info*> classes);
// The same walks for classes known to be sound.
bool ClassInheritsFromNameUnchecked(const std::type_info* classRef, std::string_view name);
bool ObjectInheritsFromNameUnchecked(const void* object, std::string_view name);

// A valid object that is no silent abort.
bool IsReportableObject(const void* object);
// Raised by the program, not translated from a processor or system fault.
bool IsNativeRaisedException(const void* object);

// An exception from another component, known only by its class names (the
// original class first, then its ancestors, one per line) and its message.
class TActiveXException : public Exception {
public:
    TActiveXException(std::string_view exceptionType, std::string_view exceptionMessage);
    const std::string& ExceptionType() const noexcept { return exceptionType_; }
    const std::vector<std::string>& Parents() const noexcept { return parents_; }

private:
    std::string exceptionType_;
    std::vector<std::string> parents_;
};

// The calling thread's record of the last exception class, kept by the
// capture hooks; nothing is stored while no provider is installed.
struct ThreadExceptionClassRecord {
    char ClassName[65];
    std::int32_t Value;
};
using ThreadExceptionClassRecordProvider = ThreadExceptionClassRecord* (*)();
void SetThreadExceptionClassRecordProvider(ThreadExceptionClassRecordProvider provider) noexcept;
void RecordThreadExceptionClass(const void* object, std::int32_t value);

} // namespace kv::crashreport
