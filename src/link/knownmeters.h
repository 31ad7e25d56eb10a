#pragma once

#include <array>
#include <cstdint>

// The USB identities that are meters, searched in this order. Row 0 is the
// one meter type that speaks frame format 1; every other row speaks format 2.
// The registry, the udev rule and the tests all read this one table.
struct known_meter_t
{
    uint16_t vid;
    uint16_t pid;
};

inline constexpr std::array<known_meter_t, 6> knownMeters = { {
    { 0x1209, 0x7350 }, // format 1
    { 0x1209, 0x7351 },
    { 0x1209, 0x7352 },
    { 0x1209, 0x7353 },
    { 0x1209, 0x7354 },
    { 0x1209, 0x7355 },
} };
