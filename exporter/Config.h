// The exporter's configuration file: YAML, its keys in snake case.
//
//   listen: "127.0.0.1:9479"        # HOST:PORT of the HTTP endpoint
//   interval: 5                     # seconds between two polls of a controller
//   max_age: 17                     # seconds a completed poll's reading is served
//   controllers:
//     - name: site1                 # the label controller="site1"
//       url: "tcp://10.0.0.5:5001?address=7"
//       labels: {region: north}     # optional; carried by powerhost_controller_info
//   nut:                            # optional: the Network UPS Tools endpoint is on
//     listen: "127.0.0.1:3493"      # (the default)
//     low_battery_voltage: 47       # volts; LB below it
//     idle_timeout: 60              # seconds
//     users: {upsmon: secret}       # who may LOGIN
//
// Every key is optional but controllers, which lists one controller at least. A key nobody
// knows is an error, so a misspelt one is never silently ignored. The values go through the
// same checks as the command line's (Options.h).
//
// The top-level keys are one table (Config.cpp): a new setting is one row and one reader.
#pragma once

#include <optional>
#include <string>

#include "exporter/Options.h"

namespace exporter {

// Files larger than this are refused before they are parsed.
constexpr std::size_t kMaxConfigBytes = 4 * 1024 * 1024;

// A settings file's whole text, at most kMaxConfigBytes; false with the reason (starting
// with the file's name) when it cannot be read.
bool readSettingsFile(const std::string &path, std::string &text, std::string &error);

// The settings a file's text gives, over the defaults; on failure, error is one line
// naming the line of the file and what is wrong there. The settings as a whole (a controller
// at least, the max-age against the interval) are checked by effectiveOptions.
std::optional<Options> parseConfig(const std::string &yaml, std::string &error);
// The same from a file; the error starts with the file's name.
std::optional<Options> loadConfig(const std::string &path, std::string &error);

// The settings in force: the command line's alone, or, with --config, the file's with the
// command line's listen, interval and max-age over them. Called at start and at every reload.
std::optional<Options> effectiveOptions(const Options &commandLine, std::string &error);

}  // namespace exporter
