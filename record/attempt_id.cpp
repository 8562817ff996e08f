#include "attempt_id.h"

#include <cstdio>
#include <ctime>
#include <random>

namespace record {

std::string NewAttemptId() {
    // random_device alone may be slow or blocking on some systems; it seeds
    // a generator of our own, once per process.
    static std::mt19937_64 generator = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    unsigned char b[16];
    for (int i = 0; i < 16; i += 8) {
        const unsigned long long r = generator();
        for (int j = 0; j < 8; ++j) b[i + j] = static_cast<unsigned char>(r >> (8 * j));
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0f) | 0x40);  // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3f) | 0x80);  // RFC 4122 variant
    char text[40];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long long DaysFromCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097LL + static_cast<long long>(doe) - 719468;
}

bool Digits(const std::string& t, std::size_t at, std::size_t n, int* value) {
    if (at + n > t.size()) return false;
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (t[i] < '0' || t[i] > '9') return false;
        v = v * 10 + (t[i] - '0');
    }
    *value = v;
    return true;
}

}  // namespace

bool ParseIsoTime(const std::string& t, long long* ms) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, frac = 0;
    if (!Digits(t, 0, 4, &y) || t.size() < 10 || t[4] != '-' || !Digits(t, 5, 2, &mo) ||
        t[7] != '-' || !Digits(t, 8, 2, &d) || mo < 1 || mo > 12 || d < 1 || d > 31) {
        return false;
    }
    std::size_t at = 10;
    if (at < t.size() && (t[at] == 'T' || t[at] == ' ')) {
        if (!Digits(t, at + 1, 2, &h) || at + 3 >= t.size() || t[at + 3] != ':' ||
            !Digits(t, at + 4, 2, &mi) || h > 23 || mi > 59) {
            return false;
        }
        at += 6;
        if (at < t.size() && t[at] == ':') {
            if (!Digits(t, at + 1, 2, &s) || s > 60) return false;
            at += 3;
            if (at < t.size() && (t[at] == '.' || t[at] == ',')) {
                int scale = 100;
                for (++at; at < t.size() && t[at] >= '0' && t[at] <= '9'; ++at) {
                    frac += (t[at] - '0') * scale;
                    scale /= 10;
                }
            }
        }
    }
    long long local = ((DaysFromCivil(y, mo, d) * 24 + h) * 60 + mi) * 60 + s;
    if (at == t.size()) {
        // No offset: the local time of this machine.
        std::tm tm{};
        tm.tm_year = y - 1900;
        tm.tm_mon = mo - 1;
        tm.tm_mday = d;
        tm.tm_hour = h;
        tm.tm_min = mi;
        tm.tm_sec = s;
        tm.tm_isdst = -1;
        const std::time_t when = std::mktime(&tm);
        if (when == static_cast<std::time_t>(-1)) return false;
        *ms = static_cast<long long>(when) * 1000 + frac;
        return true;
    }
    if (t[at] == 'Z' || t[at] == 'z') {
        if (at + 1 != t.size()) return false;
    } else if (t[at] == '+' || t[at] == '-') {
        int oh = 0, om = 0;
        if (!Digits(t, at + 1, 2, &oh)) return false;
        std::size_t next = at + 3;
        if (next < t.size() && t[next] == ':') ++next;
        if (next < t.size()) {
            if (!Digits(t, next, 2, &om) || next + 2 != t.size()) return false;
        }
        const long long offset = (oh * 60LL + om) * 60;
        local += t[at] == '+' ? -offset : offset;
    } else {
        return false;
    }
    *ms = local * 1000 + frac;
    return true;
}

std::string FormatUtcIso(long long ms) {
    long long secs = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    const int milli = static_cast<int>(ms - secs * 1000);
    long long days = secs >= 0 ? secs / 86400 : (secs - 86399) / 86400;
    const long long rest = secs - days * 86400;
    // Civil date from days (the inverse of DaysFromCivil).
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const long long y = static_cast<long long>(yoe) + era * 400 + (m <= 2);
    char text[80];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%03dZ", y, m, d,
                  rest / 3600, rest / 60 % 60, rest % 60, milli);
    return text;
}

std::string ToUtcIso(const std::string& text) {
    long long ms = 0;
    return ParseIsoTime(text, &ms) ? FormatUtcIso(ms) : text;
}

}  // namespace record
