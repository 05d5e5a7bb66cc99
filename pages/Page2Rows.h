// Parameter page 2, one row per command: the dry contacts (steps 1-4 the types of contacts
// 1-4, steps 5-8 their states), then the left and the right column by refresh step; the
// module count (step 0) is outside the refresh. Steps 15 to 17 of the refresh are page-1
// rows. This table is the only place a row is written (see pages/Page1Rows.h).
//
// Columns as on page 1, with the contact number (1-4) that a dry-contact request carries
// after where "读错误！！" goes. Two decoders serve the eight dry-contact reads, filling the
// box of the contact read last: SHARED_DECODER(name), declared once (PAGE2_SHARED_DECODERS).
#pragma once

#define PAGE2_ROWS(X) \
  X(1, "干结点1类型：", Combo, "ComboBox4", "Button42", "Button43", DryContactTypeRead, DryContactTypeWrite, ContactType, Contact, P, 1, READ_WRITE(Button42Click, Button43Click), SHARED_DECODER(mcu_read_relaytype), nullptr) \
  X(2, "干结点2类型：", Combo, "ComboBox5", "Button46", "Button47", DryContactTypeRead, DryContactTypeWrite, ContactType, Contact, P, 2, READ_WRITE(Button46Click, Button47Click), SHARED_DECODER(mcu_read_relaytype), nullptr) \
  X(3, "干结点3类型：", Combo, "ComboBox7", "Button50", "Button51", DryContactTypeRead, DryContactTypeWrite, ContactType, Contact, P, 3, READ_WRITE(Button50Click, Button51Click), SHARED_DECODER(mcu_read_relaytype), nullptr) \
  X(4, "干结点4类型：", Combo, "ComboBox10", "Button54", "Button55", DryContactTypeRead, DryContactTypeWrite, ContactType, Contact, P, 4, READ_WRITE(Button54Click, Button55Click), SHARED_DECODER(mcu_read_relaytype), nullptr) \
  X(5, "干结点1状态：", Combo, "ComboBox8", "Button45", "Button44", DryContactStateRead, DryContactStateWrite, ContactState, Contact, P, 1, READ_WRITE(Button45Click, Button44Click), SHARED_DECODER(mcu_read_relaystatus), nullptr) \
  X(6, "干结点2状态：", Combo, "ComboBox6", "Button48", "Button49", DryContactStateRead, DryContactStateWrite, ContactState, Contact, P, 2, READ_WRITE(Button48Click, Button49Click), SHARED_DECODER(mcu_read_relaystatus), nullptr) \
  X(7, "干结点3状态：", Combo, "ComboBox9", "Button52", "Button53", DryContactStateRead, DryContactStateWrite, ContactState, Contact, P, 3, READ_WRITE(Button52Click, k), SHARED_DECODER(mcu_read_relaystatus), nullptr) \
  X(8, "干结点4状态：", Combo, "ComboBox11", "Button56", "Button57", DryContactStateRead, DryContactStateWrite, ContactState, Contact, P, 4, READ_WRITE(Button56Click, Button57Click), SHARED_DECODER(mcu_read_relaystatus), nullptr) \
  X(9, "电池测试使能：", Check, "CheckBox7", "Button124", "Button125", BatteryTestRead, BatteryTestWrite, FlagNonZero, Flag, P, 0, READ_WRITE(Button124Click, Button125Click), DECODER(mcu_read_batteston), "确定开始电池测试？测试中由电池向负载放电。") \
  X(10, "电池测试开始电压：", Edit, "Edit58", "Button126", "Button127", BatteryTestStartVoltageRead, BatteryTestStartVoltageWrite, Div100, X100, L, 0, READ_WRITE(Button126Click, Button127Click), DECODER(mcu_read_batteststart), nullptr) \
  X(11, "电池测试结束电压：", Edit, "Edit59", "Button128", "Button129", BatteryTestEndVoltageRead, BatteryTestEndVoltageWrite, Div100, X100, L, 0, READ_WRITE(Button128Click, Button129Click), DECODER(mcu_read_battestend), nullptr) \
  X(12, "快充使能：", Check, "CheckBox8", "Button130", "Button131", FastChargeRead, FastChargeWrite, FlagNonZero, Flag, P, 0, READ_WRITE(Button130Click, Button131Click), DECODER(mcu_read_kcon), nullptr) \
  X(13, "快充电压(V)：", Edit, "Edit60", "Button132", "Button133", FastChargeVoltageRead, FastChargeVoltageWrite, Div100, X100, L, 0, READ_WRITE(Button132Click, Button133Click), DECODER(mcu_read_kcdc), nullptr) \
  X(14, "快充时间(分)：", Edit, "Edit61", "Button134", "Button135", FastChargeTimeRead, FastChargeTimeWrite, Int16, Integer, L, 0, READ_WRITE(Button134Click, Button135Click), DECODER(mcu_read_kctime), nullptr) \
  X(18, "电池低温告警点：", Edit, "Edit64", "Button142", "Button143", BatteryLowTemperatureRead, BatteryLowTemperatureWrite, SignDiv10, WholeX10Signed, L, 0, READ_WRITE(Button142Click, Button143Click), DECODER(mcu_read_battemlow), nullptr) \
  X(19, "电池高温告警点：", Edit, "Edit65", "Button144", "Button145", BatteryHighTemperatureRead, BatteryHighTemperatureWrite, Div10, X10, L, 0, READ_WRITE(Button144Click, Button145Click), DECODER(mcu_read_battemup), nullptr) \
  X(20, "电池电流增益：", Edit, "Edit38", "Button62", "Button63", BatteryCurrentGainRead, BatteryCurrentGainWrite, Int16, Integer, L, 0, READ_WRITE(Button62Click, Button63Click), DECODER(mcu_read_batislope), nullptr) \
  X(21, "电池电流偏移：", Edit, "Edit45", "Button76", "Button77", BatteryCurrentOffsetRead, BatteryCurrentOffsetWrite, Int16, Integer, L, 0, READ_WRITE(Button76Click, Button77Click), DECODER(mcu_read_batizero), nullptr) \
  X(22, "母排电压增益：", Edit, "Edit46", "Button78", "Button79", BusVoltageGainRead, BusVoltageGainWrite, Int16, Integer, L, 0, READ_WRITE(Button78Click, Button79Click), DECODER(mcu_read_voltslope), nullptr) \
  X(23, "负载电流增益：", Edit, "Edit47", "Button80", "Button81", LoadCurrentGainRead, LoadCurrentGainWrite, Int16, Integer, L, 0, READ_WRITE(Button80Click, Button81Click), DECODER(mcu_read_loadslope), nullptr) \
  X(24, "电池温度增益：", Edit, "Edit48", "Button82", "Button83", BatteryTemperatureGainRead, BatteryTemperatureGainWrite, Int16, Integer, L, 0, READ_WRITE(Button82Click, Button83Click), DECODER(mcu_read_battemslope), nullptr) \
  X(25, "电池温度偏移：", Edit, "Edit49", "Button84", "Button85", BatteryTemperatureOffsetRead, BatteryTemperatureOffsetWrite, Int16, Integer, L, 0, READ_WRITE(Button84Click, Button85Click), DECODER(mcu_read_battemzero), nullptr) \
  X(26, "环境温度增益：", Edit, "Edit50", "Button86", "Button87", AmbientTemperatureGainRead, AmbientTemperatureGainWrite, Int16, Integer, L, 0, READ_WRITE(Button86Click, Button87Click), DECODER(mcu_read_hjtemslope), nullptr) \
  X(27, "环境温度偏移：", Edit, "Edit51", "Button90", "Button91", AmbientTemperatureOffsetRead, AmbientTemperatureOffsetWrite, Int16, Integer, L, 0, READ_WRITE(Button90Click, Button91Click), DECODER(mcu_read_hjtemzero), nullptr) \
  X(28, "交流电压增益：", Edit, "Edit52", "Button92", "Button93", AcVoltageGainRead, AcVoltageGainWrite, Int16, Integer, L, 0, READ_WRITE(Button92Click, Button93Click), DECODER(mcu_read_acvaslope), nullptr) \
  X(29, "交流电压偏移：", Edit, "Edit53", "Button106", "Button107", AcVoltageOffsetRead, AcVoltageOffsetWrite, Int16, Integer, L, 0, READ_WRITE(Button106Click, Button107Click), DECODER(mcu_read_acvazero), nullptr) \
  X(30, "负载电流偏移：", Edit, "Edit54", "Button116", "Button117", LoadCurrentOffsetRead, LoadCurrentOffsetWrite, Int16, Integer, L, 0, READ_WRITE(Button116Click, Button117Click), DECODER(mcu_read_loadzero), nullptr) \
  X(0, "模块数量配置：", Edit, "Edit31", "Button99", "Button108", ModuleCountRead, ModuleCountWrite, Int16, Integer, L, 0, READ_WRITE(Button99Click, Button108Click), DECODER(mcu_set_MoCount), nullptr)

#define PAGE2_SHARED_DECODERS(X) X(mcu_read_relaytype) X(mcu_read_relaystatus)
