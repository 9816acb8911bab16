// The settings from the INI file beside the library, read once at start-up.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// The set of selected output records.
typedef uint32_t SentenceMask;
constexpr SentenceMask kSentenceRmc = 0x001;
constexpr SentenceMask kSentenceGll = 0x002;
constexpr SentenceMask kSentenceGga = 0x004;
constexpr SentenceMask kSentenceVtg = 0x008;
constexpr SentenceMask kSentenceRma = 0x010;
constexpr SentenceMask kSentencePgrmz = 0x020;
constexpr SentenceMask kSentenceGsa = 0x040;
constexpr SentenceMask kSentenceGsv = 0x080;
constexpr SentenceMask kSentenceGtext = 0x200;
constexpr SentenceMask kSentenceAv400 = 0x400;
constexpr SentenceMask kSentenceRpy = 0x800;
constexpr SentenceMask kSentenceHdt = 0x1000;    // true heading, for map programs
constexpr SentenceMask kSentenceHdm = 0x2000;    // magnetic heading
constexpr SentenceMask kSentenceHdg = 0x4000;    // magnetic heading with the variation
constexpr SentenceMask kSentenceLk8ex1 = 0x8000; // pressure altitude and vario, for glide computers
constexpr SentenceMask kSentenceLxwp0 = 0x10000; // airspeed, altitude, vario, heading and wind, likewise

// The INI file's section that holds every key of the module.
constexpr char kSettingsSection[] = "Waypost";

constexpr int kDevicePrefixLength = 4; // "\\.\" in front of the port name
constexpr int kPortNameStorage = 60;
constexpr int kPortNameReadSize = 58; // at most 57 characters and the terminator

// All written by LoadSettings on the host's thread before the output thread exists; read-only afterwards.
extern SentenceMask sentenceMask;
extern int32_t
    sixDecimalMinutes;         // "PosTo6Decimal": minute fractions in millionths (1) or ten-thousandths (0)
extern int32_t relayMode;      // "Port" begins with NetHub: text goes to the relay module
extern int32_t noSerialLine;   // "Port" is None: no serial line, the network outputs only
extern int32_t baudRate;       // "Speed"
extern int32_t outputInterval; // "Interval", milliseconds, at least 100
// The device path: the prefix "\\.\" directly followed by the port name.
extern char devicePath[kDevicePrefixLength + kPortNameStorage];

// Reads "Log" from the settings file at path: whether the diagnostic log is wanted (Yes).
bool LogWanted(const char* path);
// Reads, limits and writes back the settings at path.
void LoadSettings(const char* path);
// Whether a serial device is to be opened: neither the relay nor Port=None is selected.
bool SerialLineSelected(void);
// Start-up: the settings as applied, after defaults and limits, into the log.
void LogSettings(void);
