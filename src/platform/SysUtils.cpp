#include "SysUtils.h"

#include <climits>

EListError::EListError(int index) : Exception("List index out of bounds (" + std::to_string(index) + ")") {}

EFOpenError::EFOpenError(const std::string& path) : Exception("Cannot open file " + path) {}

EFCreateError::EFCreateError(const std::string& path) : Exception("Cannot create file " + path) {}

std::string Trim(const std::string& s) {
    return std::string(TrimView(s));
}

std::string TrimLeft(const std::string& s) {
    return std::string(TrimLeftView(s));
}

std::string TrimRight(const std::string& s) {
    size_t last = s.size();
    while (last > 0 && IsBlankChar(s[last - 1]))
        --last;
    return s.substr(0, last);
}

bool TryStrToInt(std::string_view s, int& value) {
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    if (i == s.size())
        return false;
    long long n = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        n = n * 10 + (s[i] - '0');
        if (n > static_cast<long long>(INT_MAX) + 1)
            return false;
    }
    if (negative)
        n = -n;
    if (n > INT_MAX || n < INT_MIN)
        return false;
    value = static_cast<int>(n);
    return true;
}

int StrToInt(const std::string& s) {
    int value = 0;
    if (!TryStrToInt(s, value))
        throw EConvertError("'" + s + "' is not a valid integer value");
    return value;
}

std::string UpperCaseAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string LowerCaseAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

namespace {

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

} // namespace

bool TryEncodeDate(int year, int month, int day, TDateTime& date) {
    static const int kDays[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                     {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};
    if (year < 1 || year > 9999 || month < 1 || month > 12)
        return false;
    const int* table = kDays[IsLeapYear(year) ? 1 : 0];
    if (day < 1 || day > table[month - 1])
        return false;
    long long days = day;
    for (int m = 0; m < month - 1; ++m)
        days += table[m];
    const long long y = year - 1;
    days += y * 365 + y / 4 - y / 100 + y / 400;
    // 693594 days lie between 0001-01-01 (day 1) and 1899-12-30.
    date = static_cast<double>(days - 693594);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& time) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 ||
        msec > 999)
        return false;
    time = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / 86400000.0;
    return true;
}
