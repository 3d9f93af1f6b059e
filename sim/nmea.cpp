#include "sim/nmea.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace z31sim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMetresPerDegree = 111320.0;
constexpr double kMetresPerSecondPerKnot = 0.514444;
constexpr int kSatellites = 12;

// A coordinate as NMEA writes it: degrees and minutes with four decimals (ddmm.mmmm), then the
// hemisphere letter.
std::string Coordinate(double deg, int deg_digits, char positive, char negative) {
    const long ten_thousandths = std::lround(std::fabs(deg) * 60.0 * 10000.0);
    const long whole_deg = ten_thousandths / 600000;
    const long rem = ten_thousandths % 600000;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*ld%02ld.%04ld,%c", deg_digits, whole_deg, rem / 10000,
                  rem % 10000, deg < 0 ? negative : positive);
    return buf;
}

std::string Time(const std::tm& utc) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d%02d%02d.00", utc.tm_hour, utc.tm_min, utc.tm_sec);
    return buf;
}

}  // namespace

std::string NmeaSentence(std::string_view body) {
    unsigned char sum = 0;
    for (const char c : body) sum ^= static_cast<unsigned char>(c);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    std::string out = "$";
    out += body;
    out += tail;
    return out;
}

NmeaTrack::NmeaTrack(std::time_t start_utc, double lat_deg, double lon_deg)
    : utc_(start_utc), lat_(lat_deg), lon_(lon_deg) {}

std::string NmeaTrack::NextBurst() {
    std::tm utc{};
    gmtime_r(&utc_, &utc);
    std::string burst = Gga(utc) + Rmc(utc) + Gsa() + Gsv();

    const double metres = speed_knots_ * kMetresPerSecondPerKnot;
    const double course = course_deg_ * kPi / 180.0;
    lat_ += metres * std::cos(course) / kMetresPerDegree;
    lon_ += metres * std::sin(course) / (kMetresPerDegree * std::cos(lat_ * kPi / 180.0));
    course_deg_ = std::fmod(course_deg_ + 0.5, 360.0);
    ++utc_;
    ++fixes_;
    return burst;
}

std::string NmeaTrack::Gga(const std::tm& utc) const {
    return NmeaSentence("GPGGA," + Time(utc) + "," + Coordinate(lat_, 2, 'N', 'S') + "," +
                        Coordinate(lon_, 3, 'E', 'W') + ",1,08,0.9,512.3,M,47.1,M,,");
}

std::string NmeaTrack::Rmc(const std::tm& utc) const {
    char tail[64];
    std::snprintf(tail, sizeof tail, ",%.1f,%.1f,%02d%02d%02d,,,A", speed_knots_, course_deg_,
                  utc.tm_mday, utc.tm_mon + 1, utc.tm_year % 100);
    return NmeaSentence("GPRMC," + Time(utc) + ",A," + Coordinate(lat_, 2, 'N', 'S') + "," +
                        Coordinate(lon_, 3, 'E', 'W') + tail);
}

std::string NmeaTrack::Gsa() const {
    std::string body = "GPGSA,A,3";
    char field[8];
    for (int i = 0; i < kSatellites; ++i) {
        std::snprintf(field, sizeof field, ",%02d", i < 8 ? 2 * i + 3 : 0);
        body += i < 8 ? field : ",";
    }
    return NmeaSentence(body + ",1.6,0.9,1.3");
}

std::string NmeaTrack::Gsv() const {
    constexpr int kPerSentence = 4;
    constexpr int kSentences = kSatellites / kPerSentence;
    std::string out;
    for (int s = 0; s < kSentences; ++s) {
        char head[32];
        std::snprintf(head, sizeof head, "GPGSV,%d,%d,%02d", kSentences, s + 1, kSatellites);
        std::string body = head;
        for (int k = 0; k < kPerSentence; ++k) {
            const int i = s * kPerSentence + k;
            // Satellites drift slowly across the sky as the fixes go by.
            const int elevation = 10 + (i * 7 + static_cast<int>(fixes_ / 60)) % 75;
            const int azimuth = (i * 29 + static_cast<int>(fixes_ / 20)) % 360;
            const int snr = 30 + (i * 5) % 20;
            char sat[32];
            std::snprintf(sat, sizeof sat, ",%02d,%02d,%03d,%02d", 2 * i + 3, elevation, azimuth,
                          snr);
            body += sat;
        }
        out += NmeaSentence(body);
    }
    return out;
}

}  // namespace z31sim
