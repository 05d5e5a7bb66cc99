// Named entry points of parameter page 1: catalogue position, read handler, write handler,
// decoder. Each is a one-line call into the page's table (pages/Page1.cpp).
#pragma once

#define PAGE1_READ_WRITE_ROWS(X)                               \
  X(1, Button5Click, ck, mcu_read_volt_slope)                  \
  X(2, Button7Click, Button8Click, mcu_read_load_slope)        \
  X(3, Button9Click, Button10Click, mcu_read_out_slope)        \
  X(4, Button11Click, Button12Click, mcu_read_tem_slope)       \
  X(5, Button13Click, Button14Click, mcu_read_batlow)          \
  X(6, Button15Click, Button16Click, mcu_read_batlvd)          \
  X(7, Button17Click, Button18Click, mcu_read_bathf)           \
  X(8, Button100Click, Button101Click, ReadInOver)             \
  X(9, Button103Click, Button102Click, ReadInProc)             \
  X(10, Button104Click, Button105Click, ReadInProcBack)        \
  X(11, Button25Click, Button26Click, mcu_read_mokuaisl)       \
  X(12, Button32Click, Button33Click, mcu_read_line_lengh)     \
  X(13, Button34Click, Button35Click, mcu_read_line_area)      \
  X(14, Button58Click, Button59Click, mcu_read_fcoutdc)        \
  X(15, Button60Click, Button61Click, mcu_read_jcoutdc)        \
  X(16, Button66Click, Button67Click, mcu_read_jtof_k)         \
  X(17, Button68Click, Button69Click, mcu_read_ftoj_k)         \
  X(18, Button70Click, Button71Click, mcu_read_limt_k)         \
  X(19, Button30Click, Button31Click, mcu_read_autoflag)       \
  X(20, Button64Click, Button65Click, mcu_read_wenbu_k)        \
  X(21, Button110Click, Button111Click, ReadFanglei)           \
  X(22, Button72Click, Button73Click, mcu_read_dqjctime)       \
  X(23, Button74Click, Button75Click, mcu_read_jcovertime)     \
  X(24, Button36Click, Button37Click, mcu_read_line_type)      \
  X(25, Button38Click, Button39Click, mcu_read_time)           \
  X(27, Button120Click, Button121Click, mcu_read_batcap)       \
  X(28, Button122Click, Button123Click, mcu_read_batshengyu)   \
  X(29, Button136Click, Button137Click, mcu_read_sleepon)      \
  X(30, Button138Click, Button139Click, mcu_read_sleeptime)    \
  X(31, Button140Click, Button141Click, mcu_read_limtdc)

// Row 26 (the display language) is read-only; the manual equalize row is write-only.
#define PAGE1_READ_ONLY_ROWS(X) X(26, Button89Click, mcu_read_yuyan)
#define PAGE1_WRITE_ONLY_ROWS(X) X(0, Button109Click)
