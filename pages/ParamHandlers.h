// The design's names for the parameter rows' handlers and decoders, one line per row of
// protocol/ParamRows.cpp that has them, found by the row's control: X(control, handlers,
// decoder). The handlers are READ_WRITE(read, write), READ_ONLY(read) or WRITE_ONLY(write);
// the decoder DECODER(name), SHARED_DECODER(name) (the dry contacts' two decoders, each
// serving four rows, declared once in PARAM_SHARED_DECODERS) or NO_DECODER. A parameter added
// later needs no line here: its buttons work by its row alone.
#pragma once

#define PARAM_HANDLERS_PAGE1(X) \
  X(Edit5, READ_WRITE(Button5Click, ck), DECODER(mcu_read_volt_slope)) \
  X(Edit6, READ_WRITE(Button7Click, Button8Click), DECODER(mcu_read_load_slope)) \
  X(Edit7, READ_WRITE(Button9Click, Button10Click), DECODER(mcu_read_out_slope)) \
  X(Edit8, READ_WRITE(Button11Click, Button12Click), DECODER(mcu_read_tem_slope)) \
  X(Edit9, READ_WRITE(Button13Click, Button14Click), DECODER(mcu_read_batlow)) \
  X(Edit10, READ_WRITE(Button15Click, Button16Click), DECODER(mcu_read_batlvd)) \
  X(Edit11, READ_WRITE(Button17Click, Button18Click), DECODER(mcu_read_bathf)) \
  X(Edit28, READ_WRITE(Button100Click, Button101Click), DECODER(ReadInOver)) \
  X(Edit29, READ_WRITE(Button103Click, Button102Click), DECODER(ReadInProc)) \
  X(Edit30, READ_WRITE(Button104Click, Button105Click), DECODER(ReadInProcBack)) \
  X(Edit22, READ_WRITE(Button25Click, Button26Click), DECODER(mcu_read_mokuaisl)) \
  X(Edit23, READ_WRITE(Button32Click, Button33Click), DECODER(mcu_read_line_lengh)) \
  X(Edit24, READ_WRITE(Button34Click, Button35Click), DECODER(mcu_read_line_area)) \
  X(Edit36, READ_WRITE(Button58Click, Button59Click), DECODER(mcu_read_fcoutdc)) \
  X(Edit37, READ_WRITE(Button60Click, Button61Click), DECODER(mcu_read_jcoutdc)) \
  X(Edit40, READ_WRITE(Button66Click, Button67Click), DECODER(mcu_read_jtof_k)) \
  X(Edit41, READ_WRITE(Button68Click, Button69Click), DECODER(mcu_read_ftoj_k)) \
  X(Edit42, READ_WRITE(Button70Click, Button71Click), DECODER(mcu_read_limt_k)) \
  X(CheckBox1, READ_WRITE(Button30Click, Button31Click), DECODER(mcu_read_autoflag)) \
  X(Edit39, READ_WRITE(Button64Click, Button65Click), DECODER(mcu_read_wenbu_k)) \
  X(CheckBox4, WRITE_ONLY(Button109Click), NO_DECODER) \
  X(CheckBox5, READ_WRITE(Button110Click, Button111Click), DECODER(ReadFanglei)) \
  X(Edit43, READ_WRITE(Button72Click, Button73Click), DECODER(mcu_read_dqjctime)) \
  X(Edit44, READ_WRITE(Button74Click, Button75Click), DECODER(mcu_read_jcovertime)) \
  X(ComboBox3, READ_WRITE(Button36Click, Button37Click), DECODER(mcu_read_line_type)) \
  X(Edit25, READ_WRITE(Button38Click, Button39Click), DECODER(mcu_read_time)) \
  X(ComboBox27, READ_ONLY(Button89Click), DECODER(mcu_read_yuyan)) \
  X(Edit20, READ_WRITE(Button120Click, Button121Click), DECODER(mcu_read_batcap)) \
  X(Edit21, READ_WRITE(Button122Click, Button123Click), DECODER(mcu_read_batshengyu)) \
  X(CheckBox2, READ_WRITE(Button136Click, Button137Click), DECODER(mcu_read_sleepon)) \
  X(Edit26, READ_WRITE(Button138Click, Button139Click), DECODER(mcu_read_sleeptime)) \
  X(Edit27, READ_WRITE(Button140Click, Button141Click), DECODER(mcu_read_limtdc))

#define PARAM_HANDLERS_PAGE2(X) \
  X(ComboBox4, READ_WRITE(Button42Click, Button43Click), SHARED_DECODER(mcu_read_relaytype)) \
  X(ComboBox5, READ_WRITE(Button46Click, Button47Click), SHARED_DECODER(mcu_read_relaytype)) \
  X(ComboBox7, READ_WRITE(Button50Click, Button51Click), SHARED_DECODER(mcu_read_relaytype)) \
  X(ComboBox10, READ_WRITE(Button54Click, Button55Click), SHARED_DECODER(mcu_read_relaytype)) \
  X(ComboBox8, READ_WRITE(Button45Click, Button44Click), SHARED_DECODER(mcu_read_relaystatus)) \
  X(ComboBox6, READ_WRITE(Button48Click, Button49Click), SHARED_DECODER(mcu_read_relaystatus)) \
  X(ComboBox9, READ_WRITE(Button52Click, k), SHARED_DECODER(mcu_read_relaystatus)) \
  X(ComboBox11, READ_WRITE(Button56Click, Button57Click), SHARED_DECODER(mcu_read_relaystatus)) \
  X(CheckBox7, READ_WRITE(Button124Click, Button125Click), DECODER(mcu_read_batteston)) \
  X(Edit58, READ_WRITE(Button126Click, Button127Click), DECODER(mcu_read_batteststart)) \
  X(Edit59, READ_WRITE(Button128Click, Button129Click), DECODER(mcu_read_battestend)) \
  X(CheckBox8, READ_WRITE(Button130Click, Button131Click), DECODER(mcu_read_kcon)) \
  X(Edit60, READ_WRITE(Button132Click, Button133Click), DECODER(mcu_read_kcdc)) \
  X(Edit61, READ_WRITE(Button134Click, Button135Click), DECODER(mcu_read_kctime)) \
  X(Edit64, READ_WRITE(Button142Click, Button143Click), DECODER(mcu_read_battemlow)) \
  X(Edit65, READ_WRITE(Button144Click, Button145Click), DECODER(mcu_read_battemup)) \
  X(Edit38, READ_WRITE(Button62Click, Button63Click), DECODER(mcu_read_batislope)) \
  X(Edit45, READ_WRITE(Button76Click, Button77Click), DECODER(mcu_read_batizero)) \
  X(Edit46, READ_WRITE(Button78Click, Button79Click), DECODER(mcu_read_voltslope)) \
  X(Edit47, READ_WRITE(Button80Click, Button81Click), DECODER(mcu_read_loadslope)) \
  X(Edit48, READ_WRITE(Button82Click, Button83Click), DECODER(mcu_read_battemslope)) \
  X(Edit49, READ_WRITE(Button84Click, Button85Click), DECODER(mcu_read_battemzero)) \
  X(Edit50, READ_WRITE(Button86Click, Button87Click), DECODER(mcu_read_hjtemslope)) \
  X(Edit51, READ_WRITE(Button90Click, Button91Click), DECODER(mcu_read_hjtemzero)) \
  X(Edit52, READ_WRITE(Button92Click, Button93Click), DECODER(mcu_read_acvaslope)) \
  X(Edit53, READ_WRITE(Button106Click, Button107Click), DECODER(mcu_read_acvazero)) \
  X(Edit54, READ_WRITE(Button116Click, Button117Click), DECODER(mcu_read_loadzero)) \
  X(Edit31, READ_WRITE(Button99Click, Button108Click), DECODER(mcu_set_MoCount))

#define PARAM_SHARED_DECODERS(X) X(mcu_read_relaytype) X(mcu_read_relaystatus)
