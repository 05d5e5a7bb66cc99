// The requests and decoders of the system status page and its rectifier modules. Each is a
// one-line call into the page's tables; pages/Status.cpp defines them.
#pragma once

// The polling cycle's requests: handler, command in the catalogue (protocol/Commands.h).
#define STATUS_REQUESTS(X)                 \
  X(mcu_read_dystatus, SystemStatus)       \
  X(mcu_read_acstatus, AcStatus)           \
  X(mcu_get_dymo, ModuleList)

// Decoders of the answers, each with the answer it reads (StatusAnswer in protocol/Status.h).
#define STATUS_DECODERS(X)                 \
  X(mcuread_dystatus, System)              \
  X(mcuread_acstatus, Ac)                  \
  X(rec_get_dymo, ModuleList)              \
  X(rec_get_dymostatus, ModuleReadings)
