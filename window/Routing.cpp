#include "window/Routing.h"

#include <iterator>
#include <vector>

#include "pages/ParamTable.h"
#include "window/Unit1.h"

namespace {

// The routing of the commands outside the parameter pages; the pages' rows bring their own
// (pages/Page1Rows.h, pages/Page2Rows.h): each read to its decoder, each write to the shared
// acknowledgement.
const Route kRoutes[] = {
    // module on/off (the status page) and erasing the history records
    {0x41, 0x10, &TForm1::mcu_set_option},
    {0x41, 0x11, &TForm1::mcu_set_option},
    {0x42, 0x95, &TForm1::mcu_set_option},
    // the system status page: the polling cycle's answers
    {0x42, 0x16, &TForm1::mcuread_dystatus},
    {0x40, 0x01, &TForm1::mcuread_acstatus},
    {0x42, 0x17, &TForm1::rec_get_dymo},
    {0x41, 0x0E, &TForm1::rec_get_dymostatus},
    // history records: the count and one record
    {0x42, 0x90, &TForm1::mcu_read_recordnum},
    {0x42, 0x8F, &TForm1::mcu_read_record},
    // 0x44: energy statistics, the four totals and the month record
#define ENERGY_ROUTE(button, caption, decoder, cid2, row) {0x44, cid2, &TForm1::decoder},
    ENERGY_TOTAL_ROWS(ENERGY_ROUTE)
#undef ENERGY_ROUTE
    {0x44, 0x01, &TForm1::Read_MonthRecord},
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
      if (row.read && row.decoder && !routed(routes, row.readCid1, row.readCid2))
        routes.push_back({row.readCid1, row.readCid2, row.decoder});
      if (row.write && !routed(routes, row.writeCid1, row.writeCid2))
        routes.push_back({row.writeCid1, row.writeCid2, &TForm1::mcu_set_option});
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
