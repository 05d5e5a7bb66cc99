// Parameter page 1, one row per command, in refresh-chain order (the write-only "手动均充："
// row sits between 20 and 21). This table is the only place a row is written: the window
// declares the named handlers from it (window/Unit1.h), the page draws, sends and decodes by
// it (pages/Page1.cpp) and the routing of answers is drawn from it (window/Routing.cpp).
//
// Columns: chain place (0: outside the chain), label, control kind, control, read button,
// write button, read CID1/CID2, write CID1/CID2 (0 when the row has no such button), how the
// answer is shown, how a write is encoded, where "读错误！！" goes, the named handlers, the
// read's decoder, and the question asked before a ticked flag is written (nullptr: none).
// The handlers are READ_WRITE(read, write), READ_ONLY(read) or WRITE_ONLY(write); the
// decoder DECODER(name) or NO_DECODER. Every place that expands the table says what these
// mean there.
#pragma once

#define PAGE1_ROWS(X) \
  X(1, "交流电压过高(V)：", Edit, "Edit5", "Button5", "Button6", AcOverVoltageRead, AcOverVoltageWrite, Div10, X10, L, READ_WRITE(Button5Click, ck), DECODER(mcu_read_volt_slope), nullptr) \
  X(2, "交流电压过低(V)：", Edit, "Edit6", "Button7", "Button8", AcUnderVoltageRead, AcUnderVoltageWrite, Div10, X10, L, READ_WRITE(Button7Click, Button8Click), DECODER(mcu_read_load_slope), nullptr) \
  X(3, "交流电压掉电(V)：", Edit, "Edit7", "Button9", "Button10", AcPowerFailRead, AcPowerFailWrite, Div10, X10, L, READ_WRITE(Button9Click, Button10Click), DECODER(mcu_read_out_slope), nullptr) \
  X(4, "交流电流过高(A)：", Edit, "Edit8", "Button11", "Button12", AcOverCurrentRead, AcOverCurrentWrite, Div10, X10, L, READ_WRITE(Button11Click, Button12Click), DECODER(mcu_read_tem_slope), nullptr) \
  X(5, "48v模块限流点(A)：", Edit, "Edit9", "Button13", "Button14", ModuleCurrentLimitRead, ModuleCurrentLimitWrite, Div10, X10, L, READ_WRITE(Button13Click, Button14Click), DECODER(mcu_read_batlow), nullptr) \
  X(6, "负载电流过高(A)：", Edit, "Edit10", "Button15", "Button16", LoadOverCurrentRead, LoadOverCurrentWrite, Div10, X10, L, READ_WRITE(Button15Click, Button16Click), DECODER(mcu_read_batlvd), nullptr) \
  X(7, "电池电流过高(A)：", Edit, "Edit11", "Button17", "Button18", BatteryOverCurrentRead, BatteryOverCurrentWrite, Div10, X10, L, READ_WRITE(Button17Click, Button18Click), DECODER(mcu_read_bathf), nullptr) \
  X(8, "输出过压告警(V)：", Edit, "Edit28", "Button100", "Button101", OutputOverVoltageRead, OutputOverVoltageWrite, Div100, X100, L, READ_WRITE(Button100Click, Button101Click), DECODER(ReadInOver), nullptr) \
  X(9, "电池低压告警(V)：", Edit, "Edit29", "Button103", "Button102", BatteryLowVoltageRead, BatteryLowVoltageWrite, Div100, X100, L, READ_WRITE(Button103Click, Button102Click), DECODER(ReadInProc), nullptr) \
  X(10, "负载下电告警(V)：", Edit, "Edit30", "Button104", "Button105", LoadDisconnectVoltageRead, LoadDisconnectVoltageWrite, Div100, X100, L, READ_WRITE(Button104Click, Button105Click), DECODER(ReadInProcBack), nullptr) \
  X(11, "负载下电恢复(V)：", Edit, "Edit22", "Button25", "Button26", LoadReconnectVoltageRead, LoadReconnectVoltageWrite, Div100, X100, L, READ_WRITE(Button25Click, Button26Click), DECODER(mcu_read_mokuaisl), nullptr) \
  X(12, "电池下电告警(V)：", Edit, "Edit23", "Button32", "Button33", BatteryDisconnectVoltageRead, BatteryDisconnectVoltageWrite, Div100, X100, L, READ_WRITE(Button32Click, Button33Click), DECODER(mcu_read_line_lengh), nullptr) \
  X(13, "电池下电恢复(V)：", Edit, "Edit24", "Button34", "Button35", BatteryReconnectVoltageRead, BatteryReconnectVoltageWrite, Div100, X100, L, READ_WRITE(Button34Click, Button35Click), DECODER(mcu_read_line_area), nullptr) \
  X(14, "浮充电压设定(V)：", Edit, "Edit36", "Button58", "Button59", FloatVoltageRead, FloatVoltageWrite, Div100, X100, L, READ_WRITE(Button58Click, Button59Click), DECODER(mcu_read_fcoutdc), nullptr) \
  X(15, "均充电压设定(V)：", Edit, "Edit37", "Button60", "Button61", EqualizeVoltageRead, EqualizeVoltageWrite, Div100, X100, L, READ_WRITE(Button60Click, Button61Click), DECODER(mcu_read_jcoutdc), nullptr) \
  X(16, "均转浮系数(%)：", Edit, "Edit40", "Button66", "Button67", EqualizeToFloatRead, EqualizeToFloatWrite, Div10, X10, L, READ_WRITE(Button66Click, Button67Click), DECODER(mcu_read_jtof_k), nullptr) \
  X(17, "浮转均系数(%)：", Edit, "Edit41", "Button68", "Button69", FloatToEqualizeRead, FloatToEqualizeWrite, Div10, X10, L, READ_WRITE(Button68Click, Button69Click), DECODER(mcu_read_ftoj_k), nullptr) \
  X(18, "充电限流系数(%)：", Edit, "Edit42", "Button70", "Button71", ChargeCurrentLimitRead, ChargeCurrentLimitWrite, Div10, X10, L, READ_WRITE(Button70Click, Button71Click), DECODER(mcu_read_limt_k), nullptr) \
  X(19, "温补使能：", Check, "CheckBox1", "Button30", "Button31", TemperatureCompensationRead, TemperatureCompensationWrite, FlagNonZero, Flag, P, READ_WRITE(Button30Click, Button31Click), DECODER(mcu_read_autoflag), nullptr) \
  X(20, "温补系数(mV/C)：", Edit, "Edit39", "Button64", "Button65", CompensationCoefficientRead, CompensationCoefficientWrite, Int16, Integer, L, READ_WRITE(Button64Click, Button65Click), DECODER(mcu_read_wenbu_k), nullptr) \
  X(0, "手动均充：", Check, "CheckBox4", nullptr, "Button109", None, ManualEqualizeWrite, None, Flag, L, WRITE_ONLY(Button109Click), NO_DECODER, "确定开始手动均充？整流模块将升到均充电压输出。") \
  X(21, "定期均充：", Check, "CheckBox5", "Button110", "Button111", PeriodicEqualizeRead, PeriodicEqualizeWrite, FlagOne, Flag, L, READ_WRITE(Button110Click, Button111Click), DECODER(ReadFanglei), nullptr) \
  X(22, "定期均充间隔(天)：", Edit, "Edit43", "Button72", "Button73", PeriodicEqualizeIntervalRead, PeriodicEqualizeIntervalWrite, Int16, Integer, L, READ_WRITE(Button72Click, Button73Click), DECODER(mcu_read_dqjctime), nullptr) \
  X(23, "持续均充时间(分)：", Edit, "Edit44", "Button74", "Button75", EqualizeDurationRead, EqualizeDurationWrite, Int16, Integer, L, READ_WRITE(Button74Click, Button75Click), DECODER(mcu_read_jcovertime), nullptr) \
  X(24, "蜂鸣告警：", Combo, "ComboBox3", "Button36", "Button37", BuzzerRead, BuzzerWrite, Buzzer, Buzzer, P, READ_WRITE(Button36Click, Button37Click), DECODER(mcu_read_line_type), nullptr) \
  X(25, "时间：", Edit, "Edit25", "Button38", "Button39", ClockRead, ClockSet, Clock, Clock, P, READ_WRITE(Button38Click, Button39Click), DECODER(mcu_read_time), nullptr) \
  X(26, "监控语言：", Combo, "ComboBox27", "Button89", nullptr, DisplayLanguageRead, None, Language, None, L, READ_ONLY(Button89Click), DECODER(mcu_read_yuyan), nullptr) \
  X(27, "电池容量(AH)：", Edit, "Edit20", "Button120", "Button121", BatteryCapacityRead, BatteryCapacityWrite, Int16, Integer, L, READ_WRITE(Button120Click, Button121Click), DECODER(mcu_read_batcap), nullptr) \
  X(28, "电池容量保持(%)：", Edit, "Edit21", "Button122", "Button123", BatteryCapacityKeptRead, BatteryCapacityKeptWrite, Div10, X10, L, READ_WRITE(Button122Click, Button123Click), DECODER(mcu_read_batshengyu), nullptr) \
  X(29, "休眠使能：", Check, "CheckBox2", "Button19", "Button20", SleepModeRead, SleepModeWrite, FlagNonZero, Flag, P, READ_WRITE(Button136Click, Button137Click), DECODER(mcu_read_sleepon), nullptr) \
  X(30, "休眠间隔时间(时)：", Edit, "Edit26", "Button21", "Button22", SleepIntervalRead, SleepIntervalWrite, Int8, Integer, L, READ_WRITE(Button138Click, Button139Click), DECODER(mcu_read_sleeptime), nullptr) \
  X(31, "限流最小电压(V)：", Edit, "Edit27", "Button27", "Button28", CurrentLimitMinVoltageRead, CurrentLimitMinVoltageWrite, Div100, X100, L, READ_WRITE(Button140Click, Button141Click), DECODER(mcu_read_limtdc), nullptr)
