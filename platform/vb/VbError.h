#pragma once
// Run-time errors as the language runtime numbers them (5 invalid call, 6
// overflow, 9 subscript out of range, 11 division by zero, 13 type mismatch ...).
// Portable: no <windows.h>, so the portable cores can raise them too.
#include <stdexcept>
#include <string>

namespace vb {

class Error : public std::runtime_error {
public:
    Error(long number, std::wstring source, std::wstring description)
        : std::runtime_error("run-time error " + std::to_string(number)),
          number_(number), source_(std::move(source)), description_(std::move(description)) {}
    explicit Error(long number) : Error(number, L"", DefaultDescription(number)) {}

    long Number() const { return number_; }
    const std::wstring& Source() const { return source_; }
    const std::wstring& Description() const { return description_; }

    static std::wstring DefaultDescription(long number) {
        switch (number) {
        case 5: return L"Invalid procedure call or argument";
        case 6: return L"Overflow";
        case 7: return L"Out of memory";
        case 9: return L"Subscript out of range";
        case 11: return L"Division by zero";
        case 13: return L"Type mismatch";
        case 52: return L"Bad file name or number";
        case 53: return L"File not found";
        case 70: return L"Permission denied";
        case 75: return L"Path/File access error";
        case 91: return L"Object variable or With block variable not set";
        default: return L"Application-defined or object-defined error";
        }
    }

private:
    long number_;
    std::wstring source_;
    std::wstring description_;
};

// "On Error Resume Next" for one statement: run it, swallow any failure,
// report whether it completed.
template <class F>
bool Try(F&& statement) noexcept {
    try {
        statement();
        return true;
    } catch (...) {
        return false;
    }
}

// An object variable that is Nothing raises error 91 when it is used.
template <class Ptr>
auto& Deref(const Ptr& p) {
    if (!p) throw Error(91);
    return *p;
}

}  // namespace vb
