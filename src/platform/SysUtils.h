#pragma once

#include <exception>
#include <string>
#include <string_view>

// The general error: every failure of the program is an exception that carries the message text
// shown to the user.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// "List index out of bounds (%d)".
class EListError : public Exception {
public:
    explicit EListError(int index);
};

// "Cannot open file %s".
class EFOpenError : public Exception {
public:
    explicit EFOpenError(const std::string& path);
};

// "Cannot create file %s".
class EFCreateError : public Exception {
public:
    explicit EFCreateError(const std::string& path);
};

// Conversion failures such as "'%s' is not a valid integer value".
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// The characters with codes 0 to 32, which trimming removes.
inline bool IsBlankChar(char c) {
    return static_cast<unsigned char>(c) <= 32;
}
// Trim and TrimLeft over views, without a copy.
inline std::string_view TrimLeftView(std::string_view s) {
    while (!s.empty() && IsBlankChar(s.front()))
        s.remove_prefix(1);
    return s;
}
inline std::string_view TrimView(std::string_view s) {
    s = TrimLeftView(s);
    while (!s.empty() && IsBlankChar(s.back()))
        s.remove_suffix(1);
    return s;
}

// Removes leading and trailing characters with codes 0 to 32.
std::string Trim(const std::string& s);
// Removes leading characters with codes 0 to 32.
std::string TrimLeft(const std::string& s);
// Removes trailing characters with codes 0 to 32.
std::string TrimRight(const std::string& s);

// An optional "+" or "-" and ASCII digits only, nothing around them, within the signed 32-bit
// range; false (value untouched) for anything else, the empty text included.
bool TryStrToInt(std::string_view s, int& value);
// As TryStrToInt; raises EConvertError "'%s' is not a valid integer value" on failure.
int StrToInt(const std::string& s);

// Only the letters a-z / A-Z change; every other byte is kept.
std::string UpperCaseAscii(std::string s);
std::string LowerCaseAscii(std::string s);
// Whole-string equality ignoring the case of ASCII letters.
bool SameTextAscii(std::string_view a, std::string_view b);

// Date-time values count days since 1899-12-30 00:00; the fraction is the time of day.
using TDateTime = double;

// False for a year outside 1..9999, a month outside 1..12 or a day the month does not have.
bool TryEncodeDate(int year, int month, int day, TDateTime& date);
// False for hour > 23, minute > 59, second > 59, msec > 999 or any negative part.
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& time);
