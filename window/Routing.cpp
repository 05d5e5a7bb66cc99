#include "window/Routing.h"

#include "window/Unit1.h"

namespace {

// The routing table: reads go to their decoders, writes to the shared acknowledgement.
const Route kRoutes[] = {
    // 0x40: AC thresholds
    {0x40, 0x05, &TForm1::mcu_set_option},
    {0x40, 0x07, &TForm1::mcu_set_option},
    {0x40, 0x09, &TForm1::mcu_set_option},
    {0x40, 0x0B, &TForm1::mcu_set_option},
    {0x40, 0x06, &TForm1::mcu_read_volt_slope},
    {0x40, 0x08, &TForm1::mcu_read_load_slope},
    {0x40, 0x0A, &TForm1::mcu_read_out_slope},
    {0x40, 0x0C, &TForm1::mcu_read_tem_slope},
    // 0x41: module current limit, module on/off
    {0x41, 0x10, &TForm1::mcu_set_option},
    {0x41, 0x11, &TForm1::mcu_set_option},
    {0x41, 0x14, &TForm1::mcu_set_option},
    {0x41, 0x15, &TForm1::mcu_read_batlow},
    // 0x42: reads
    {0x42, 0x21, &TForm1::mcu_read_yuyan},
    {0x42, 0x23, &TForm1::mcu_read_batlvd},
    {0x42, 0x25, &TForm1::mcu_read_bathf},
    {0x42, 0x27, &TForm1::ReadInOver},
    {0x42, 0x29, &TForm1::ReadInProc},
    {0x42, 0x33, &TForm1::ReadInProcBack},
    {0x42, 0x35, &TForm1::mcu_read_mokuaisl},
    {0x42, 0x37, &TForm1::mcu_read_line_lengh},
    {0x42, 0x39, &TForm1::mcu_read_line_area},
    {0x42, 0x3B, &TForm1::mcu_read_fcoutdc},
    {0x42, 0x3D, &TForm1::mcu_read_autoflag},
    {0x42, 0x3F, &TForm1::mcu_read_wenbu_k},
    {0x42, 0x41, &TForm1::mcu_read_limt_k},
    {0x42, 0x45, &TForm1::mcu_read_limtdc},
    {0x42, 0x47, &TForm1::ReadFanglei},
    {0x42, 0x49, &TForm1::mcu_read_dqjctime},
    {0x42, 0x4B, &TForm1::mcu_read_jcovertime},
    {0x42, 0x4D, &TForm1::mcu_read_jcoutdc},
    {0x42, 0x57, &TForm1::mcu_read_batcap},
    {0x42, 0x59, &TForm1::mcu_read_batshengyu},
    {0x42, 0x79, &TForm1::mcu_read_jtof_k},
    {0x42, 0x7B, &TForm1::mcu_read_ftoj_k},
    {0x42, 0x81, &TForm1::mcu_read_line_type},
    {0x42, 0x8D, &TForm1::mcu_read_time},
    {0x42, 0x92, &TForm1::mcu_read_sleepon},
    {0x42, 0x94, &TForm1::mcu_read_sleeptime},
    // 0x42: write acknowledgements
    {0x42, 0x18, &TForm1::mcu_set_option},
    {0x42, 0x1A, &TForm1::mcu_set_option},
    {0x42, 0x1C, &TForm1::mcu_set_option},
    {0x42, 0x1E, &TForm1::mcu_set_option},
    {0x42, 0x22, &TForm1::mcu_set_option},
    {0x42, 0x24, &TForm1::mcu_set_option},
    {0x42, 0x26, &TForm1::mcu_set_option},
    {0x42, 0x28, &TForm1::mcu_set_option},
    {0x42, 0x2A, &TForm1::mcu_set_option},
    {0x42, 0x2C, &TForm1::mcu_set_option},
    {0x42, 0x32, &TForm1::mcu_set_option},
    {0x42, 0x34, &TForm1::mcu_set_option},
    {0x42, 0x36, &TForm1::mcu_set_option},
    {0x42, 0x38, &TForm1::mcu_set_option},
    {0x42, 0x3A, &TForm1::mcu_set_option},
    {0x42, 0x3C, &TForm1::mcu_set_option},
    {0x42, 0x3E, &TForm1::mcu_set_option},
    {0x42, 0x40, &TForm1::mcu_set_option},
    {0x42, 0x44, &TForm1::mcu_set_option},
    {0x42, 0x46, &TForm1::mcu_set_option},
    {0x42, 0x48, &TForm1::mcu_set_option},
    {0x42, 0x4A, &TForm1::mcu_set_option},
    {0x42, 0x4C, &TForm1::mcu_set_option},
    {0x42, 0x4E, &TForm1::mcu_set_option},
    {0x42, 0x50, &TForm1::mcu_set_option},
    {0x42, 0x52, &TForm1::mcu_set_option},
    {0x42, 0x54, &TForm1::mcu_set_option},
    {0x42, 0x56, &TForm1::mcu_set_option},
    {0x42, 0x58, &TForm1::mcu_set_option},
    {0x42, 0x5A, &TForm1::mcu_set_option},
    {0x42, 0x5C, &TForm1::mcu_set_option},
    {0x42, 0x5E, &TForm1::mcu_set_option},
    {0x42, 0x70, &TForm1::mcu_set_option},
    {0x42, 0x72, &TForm1::mcu_set_option},
    {0x42, 0x74, &TForm1::mcu_set_option},
    {0x42, 0x76, &TForm1::mcu_set_option},
    {0x42, 0x78, &TForm1::mcu_set_option},
    {0x42, 0x7A, &TForm1::mcu_set_option},
    {0x42, 0x7C, &TForm1::mcu_set_option},
    {0x42, 0x7E, &TForm1::mcu_set_option},
    {0x42, 0x80, &TForm1::mcu_set_option},
    {0x42, 0x85, &TForm1::mcu_set_option},
    {0x42, 0x87, &TForm1::mcu_set_option},
    {0x42, 0x89, &TForm1::mcu_set_option},
    {0x42, 0x8E, &TForm1::mcu_set_option},
    {0x42, 0x91, &TForm1::mcu_set_option},
    {0x42, 0x93, &TForm1::mcu_set_option},
    {0x42, 0x95, &TForm1::mcu_set_option},
    // ---- system status page: the polling cycle's answers (module on/off acknowledgements
    // 41/10 and 41/11 are with the writes above)
    {0x42, 0x16, &TForm1::mcuread_dystatus},
    {0x40, 0x01, &TForm1::mcuread_acstatus},
    {0x42, 0x17, &TForm1::rec_get_dymo},
    {0x41, 0x0E, &TForm1::rec_get_dymostatus},
    // history records: the count and one record (erasing, 0x95, is a write above)
    {0x42, 0x90, &TForm1::mcu_read_recordnum},
    {0x42, 0x8F, &TForm1::mcu_read_record},
    // 0x44: energy statistics, the four totals and the month record
#define ENERGY_ROUTE(button, caption, decoder, cid2, row) {0x44, cid2, &TForm1::decoder},
    ENERGY_TOTAL_ROWS(ENERGY_ROUTE)
#undef ENERGY_ROUTE
    {0x44, 0x01, &TForm1::Read_MonthRecord},

    // 0x42: parameter page 2 and the dry contacts (their other writes are acknowledged above)
    {0x42, 0x19, &TForm1::mcu_read_battemslope},
    {0x42, 0x1B, &TForm1::mcu_read_battemzero},
    {0x42, 0x1D, &TForm1::mcu_read_hjtemslope},
    {0x42, 0x1F, &TForm1::mcu_read_hjtemzero},
    {0x42, 0x2B, &TForm1::mcu_read_battemlow},
    {0x42, 0x2D, &TForm1::mcu_read_battemup},
    {0x42, 0x51, &TForm1::mcu_read_kcon},
    {0x42, 0x53, &TForm1::mcu_read_kcdc},
    {0x42, 0x55, &TForm1::mcu_read_kctime},
    {0x42, 0x5B, &TForm1::mcu_read_batteston},
    {0x42, 0x5D, &TForm1::mcu_read_batteststart},
    {0x42, 0x5F, &TForm1::mcu_read_battestend},
    {0x42, 0x61, &TForm1::mcu_set_MoCount},
    {0x42, 0x71, &TForm1::mcu_read_batislope},
    {0x42, 0x73, &TForm1::mcu_read_batizero},
    {0x42, 0x75, &TForm1::mcu_read_voltslope},
    {0x42, 0x77, &TForm1::mcu_read_loadslope},
    {0x42, 0x7D, &TForm1::mcu_read_acvazero},
    {0x42, 0x7F, &TForm1::mcu_read_acvaslope},
    {0x42, 0x86, &TForm1::mcu_read_relaystatus},
    {0x42, 0x88, &TForm1::mcu_read_relaytype},
    {0x42, 0x8A, &TForm1::mcu_read_loadzero},
    {0x42, 0x60, &TForm1::mcu_set_option},  // the module count is acknowledged like every write
};

}  // namespace

std::span<const Route> allRoutes() { return kRoutes; }

Decoder findDecoder(int cid1, int cid2) {
  for (const Route &r : kRoutes)
    if (r.cid1 == cid1 && r.cid2 == cid2) return r.decoder;
  return nullptr;
}
