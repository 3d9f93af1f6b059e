// The NMEA 0183 stream the device sends in normal operation.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace z31sim {

// "$" + body + "*hh\r\n", hh being the XOR of the body's bytes in upper-case hex.
std::string NmeaSentence(std::string_view body);

// A vehicle driving slowly along a gentle curve, one fix per second of simulated time.
class NmeaTrack {
public:
    NmeaTrack(std::time_t start_utc, double lat_deg, double lon_deg);

    // The sentences of one fix ($GPGGA, $GPRMC, $GPGSA, then three $GPGSV), after which the
    // track moves on by one second.
    std::string NextBurst();

    double latitude() const { return lat_; }
    double longitude() const { return lon_; }

private:
    std::string Gga(const std::tm& utc) const;
    std::string Rmc(const std::tm& utc) const;
    std::string Gsa() const;
    std::string Gsv() const;

    std::time_t utc_;
    double lat_;
    double lon_;
    double course_deg_ = 60.0;
    double speed_knots_ = 27.0;
    long fixes_ = 0;
};

}  // namespace z31sim
