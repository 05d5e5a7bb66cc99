#include "window/Routing.h"

#include <iterator>
#include <vector>

#include "pages/ParamTable.h"
#include "window/Unit1.h"

namespace {

Route route(proto::Command command, Decoder decoder) {
  const proto::CommandDef &c = proto::commandDef(command);
  return {c.cid1, c.cid2, decoder};
}

using Cmd = proto::Command;

// The routing of the commands outside the parameter pages; the pages' rows bring their own
// (protocol/ParamRows.cpp, pages/ParamHandlers.h): each read to its decoder, each write to the shared
// acknowledgement.
const Route kRoutes[] = {
    // module on/off (the status page) and erasing the history records
    route(Cmd::ModuleOn, &TForm1::mcu_set_option),
    route(Cmd::ModuleOff, &TForm1::mcu_set_option),
    route(Cmd::HistoryClear, &TForm1::mcu_set_option),
    // the system status page: the polling cycle's answers
    route(Cmd::SystemStatus, &TForm1::mcuread_dystatus),
    route(Cmd::AcStatus, &TForm1::mcuread_acstatus),
    route(Cmd::ModuleList, &TForm1::rec_get_dymo),
    route(Cmd::ModuleReadings, &TForm1::rec_get_dymostatus),
    // history records: the count and one record
    route(Cmd::HistoryCount, &TForm1::mcu_read_recordnum),
    route(Cmd::HistoryRecord, &TForm1::mcu_read_record),
    // 0x44: energy statistics, the four totals and the month record
#define ENERGY_ROUTE(button, caption, decoder, command, row) route(Cmd::command, &TForm1::decoder),
    ENERGY_TOTAL_ROWS(ENERGY_ROUTE)
#undef ENERGY_ROUTE
    route(Cmd::EnergyMonth, &TForm1::Read_MonthRecord),
};

bool routed(const std::vector<Route> &routes, int cid1, int cid2) {
  for (const Route &r : routes)
    if (r.cid1 == cid1 && r.cid2 == cid2) return true;
  return false;
}

// The table above, then every parameter row's read and write not routed already (the dry
// contacts share their CIDs four rows at a time).
std::vector<Route> buildRoutes() {
  std::vector<Route> routes(std::begin(kRoutes), std::end(kRoutes));
  for (std::span<const ParamRow> page : {params::page1Rows(), params::page2Rows()})
    for (const ParamRow &row : page) {
      if (row.reads() && !routed(routes, row.readCid1(), row.readCid2()))
        routes.push_back({row.readCid1(), row.readCid2(), row.decoder ? row.decoder : &TForm1::paramAnswer});
      if (row.writes() && !routed(routes, row.writeCid1(), row.writeCid2()))
        routes.push_back({row.writeCid1(), row.writeCid2(), &TForm1::mcu_set_option});
    }
  return routes;
}

}  // namespace

std::span<const Route> allRoutes() {
  static const std::vector<Route> routes = buildRoutes();
  return routes;
}

Decoder findDecoder(int cid1, int cid2) {
  for (const Route &r : allRoutes())
    if (r.cid1 == cid1 && r.cid2 == cid2) return r.decoder;
  return nullptr;
}
