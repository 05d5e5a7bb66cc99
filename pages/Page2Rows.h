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
  X(1, "干结点1类型：", Combo, "ComboBox4", "Button42", "Button43", 0x42, 0x88, 0x42, 0x87, ContactType, Contact, P, 1, READ_WRITE(Button42Click, Button43Click), SHARED_DECODER(mcu_read_relaytype), nullptr) \
  X(2, "干结点2类型：", Combo, "ComboBox5", "Button46", "Button47", 0x42, 0x88, 0x42, 0x87, ContactType, Contact, P, 2, READ_WRITE(Button46Click, Button47Click), SHARED_DECODER(mcu_read_relaytype), nullptr) \
  X(3, "干结点3类型：", Combo, "ComboBox7", "Button50", "Button51", 0x42, 0x88, 0x42, 0x87, ContactType, Contact, P, 3, READ_WRITE(Button50Click, Button51Click), SHARED_DECODER(mcu_read_relaytype), nullptr) \
  X(4, "干结点4类型：", Combo, "ComboBox10", "Button54", "Button55", 0x42, 0x88, 0x42, 0x87, ContactType, Contact, P, 4, READ_WRITE(Button54Click, Button55Click), SHARED_DECODER(mcu_read_relaytype), nullptr) \
  X(5, "干结点1状态：", Combo, "ComboBox8", "Button45", "Button44", 0x42, 0x86, 0x42, 0x85, ContactState, Contact, P, 1, READ_WRITE(Button45Click, Button44Click), SHARED_DECODER(mcu_read_relaystatus), nullptr) \
  X(6, "干结点2状态：", Combo, "ComboBox6", "Button48", "Button49", 0x42, 0x86, 0x42, 0x85, ContactState, Contact, P, 2, READ_WRITE(Button48Click, Button49Click), SHARED_DECODER(mcu_read_relaystatus), nullptr) \
  X(7, "干结点3状态：", Combo, "ComboBox9", "Button52", "Button53", 0x42, 0x86, 0x42, 0x85, ContactState, Contact, P, 3, READ_WRITE(Button52Click, k), SHARED_DECODER(mcu_read_relaystatus), nullptr) \
  X(8, "干结点4状态：", Combo, "ComboBox11", "Button56", "Button57", 0x42, 0x86, 0x42, 0x85, ContactState, Contact, P, 4, READ_WRITE(Button56Click, Button57Click), SHARED_DECODER(mcu_read_relaystatus), nullptr) \
  X(9, "电池测试使能：", Check, "CheckBox7", "Button124", "Button125", 0x42, 0x5B, 0x42, 0x5A, FlagNonZero, Flag, P, 0, READ_WRITE(Button124Click, Button125Click), DECODER(mcu_read_batteston), "确定开始电池测试？测试中由电池向负载放电。") \
  X(10, "电池测试开始电压：", Edit, "Edit58", "Button126", "Button127", 0x42, 0x5D, 0x42, 0x5C, Div100, X100, L, 0, READ_WRITE(Button126Click, Button127Click), DECODER(mcu_read_batteststart), nullptr) \
  X(11, "电池测试结束电压：", Edit, "Edit59", "Button128", "Button129", 0x42, 0x5F, 0x42, 0x5E, Div100, X100, L, 0, READ_WRITE(Button128Click, Button129Click), DECODER(mcu_read_battestend), nullptr) \
  X(12, "快充使能：", Check, "CheckBox8", "Button130", "Button131", 0x42, 0x51, 0x42, 0x50, FlagNonZero, Flag, P, 0, READ_WRITE(Button130Click, Button131Click), DECODER(mcu_read_kcon), nullptr) \
  X(13, "快充电压(V)：", Edit, "Edit60", "Button132", "Button133", 0x42, 0x53, 0x42, 0x52, Div100, X100, L, 0, READ_WRITE(Button132Click, Button133Click), DECODER(mcu_read_kcdc), nullptr) \
  X(14, "快充时间(分)：", Edit, "Edit61", "Button134", "Button135", 0x42, 0x55, 0x42, 0x54, Int16, Integer, L, 0, READ_WRITE(Button134Click, Button135Click), DECODER(mcu_read_kctime), nullptr) \
  X(18, "电池低温告警点：", Edit, "Edit64", "Button142", "Button143", 0x42, 0x2B, 0x42, 0x2A, SignDiv10, WholeX10Signed, L, 0, READ_WRITE(Button142Click, Button143Click), DECODER(mcu_read_battemlow), nullptr) \
  X(19, "电池高温告警点：", Edit, "Edit65", "Button144", "Button145", 0x42, 0x2D, 0x42, 0x2C, Div10, X10, L, 0, READ_WRITE(Button144Click, Button145Click), DECODER(mcu_read_battemup), nullptr) \
  X(20, "电池电流增益：", Edit, "Edit38", "Button62", "Button63", 0x42, 0x71, 0x42, 0x70, Int16, Integer, L, 0, READ_WRITE(Button62Click, Button63Click), DECODER(mcu_read_batislope), nullptr) \
  X(21, "电池电流偏移：", Edit, "Edit45", "Button76", "Button77", 0x42, 0x73, 0x42, 0x72, Int16, Integer, L, 0, READ_WRITE(Button76Click, Button77Click), DECODER(mcu_read_batizero), nullptr) \
  X(22, "母排电压增益：", Edit, "Edit46", "Button78", "Button79", 0x42, 0x75, 0x42, 0x74, Int16, Integer, L, 0, READ_WRITE(Button78Click, Button79Click), DECODER(mcu_read_voltslope), nullptr) \
  X(23, "负载电流增益：", Edit, "Edit47", "Button80", "Button81", 0x42, 0x77, 0x42, 0x76, Int16, Integer, L, 0, READ_WRITE(Button80Click, Button81Click), DECODER(mcu_read_loadslope), nullptr) \
  X(24, "电池温度增益：", Edit, "Edit48", "Button82", "Button83", 0x42, 0x19, 0x42, 0x18, Int16, Integer, L, 0, READ_WRITE(Button82Click, Button83Click), DECODER(mcu_read_battemslope), nullptr) \
  X(25, "电池温度偏移：", Edit, "Edit49", "Button84", "Button85", 0x42, 0x1B, 0x42, 0x1A, Int16, Integer, L, 0, READ_WRITE(Button84Click, Button85Click), DECODER(mcu_read_battemzero), nullptr) \
  X(26, "环境温度增益：", Edit, "Edit50", "Button86", "Button87", 0x42, 0x1D, 0x42, 0x1C, Int16, Integer, L, 0, READ_WRITE(Button86Click, Button87Click), DECODER(mcu_read_hjtemslope), nullptr) \
  X(27, "环境温度偏移：", Edit, "Edit51", "Button90", "Button91", 0x42, 0x1F, 0x42, 0x1E, Int16, Integer, L, 0, READ_WRITE(Button90Click, Button91Click), DECODER(mcu_read_hjtemzero), nullptr) \
  X(28, "交流电压增益：", Edit, "Edit52", "Button92", "Button93", 0x42, 0x7F, 0x42, 0x7E, Int16, Integer, L, 0, READ_WRITE(Button92Click, Button93Click), DECODER(mcu_read_acvaslope), nullptr) \
  X(29, "交流电压偏移：", Edit, "Edit53", "Button106", "Button107", 0x42, 0x7D, 0x42, 0x7C, Int16, Integer, L, 0, READ_WRITE(Button106Click, Button107Click), DECODER(mcu_read_acvazero), nullptr) \
  X(30, "负载电流偏移：", Edit, "Edit54", "Button116", "Button117", 0x42, 0x8A, 0x42, 0x89, Int16, Integer, L, 0, READ_WRITE(Button116Click, Button117Click), DECODER(mcu_read_loadzero), nullptr) \
  X(0, "模块数量配置：", Edit, "Edit31", "Button99", "Button108", 0x42, 0x61, 0x42, 0x60, Int16, Integer, L, 0, READ_WRITE(Button99Click, Button108Click), DECODER(mcu_set_MoCount), nullptr)

#define PAGE2_SHARED_DECODERS(X) X(mcu_read_relaytype) X(mcu_read_relaystatus)
