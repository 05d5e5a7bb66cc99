// Named entry points of parameter page 2: refresh-chain step, read handler, write handler,
// decoder. Each is a one-line call into the page's table (pages/Page2.cpp).
#pragma once

#define PAGE2_READ_WRITE_ROWS(X)                                \
  X(9, Button124Click, Button125Click, mcu_read_batteston)      \
  X(10, Button126Click, Button127Click, mcu_read_batteststart)  \
  X(11, Button128Click, Button129Click, mcu_read_battestend)    \
  X(12, Button130Click, Button131Click, mcu_read_kcon)          \
  X(13, Button132Click, Button133Click, mcu_read_kcdc)          \
  X(14, Button134Click, Button135Click, mcu_read_kctime)        \
  X(18, Button142Click, Button143Click, mcu_read_battemlow)     \
  X(19, Button144Click, Button145Click, mcu_read_battemup)      \
  X(20, Button62Click, Button63Click, mcu_read_batislope)       \
  X(21, Button76Click, Button77Click, mcu_read_batizero)        \
  X(22, Button78Click, Button79Click, mcu_read_voltslope)       \
  X(23, Button80Click, Button81Click, mcu_read_loadslope)       \
  X(24, Button82Click, Button83Click, mcu_read_battemslope)     \
  X(25, Button84Click, Button85Click, mcu_read_battemzero)      \
  X(26, Button86Click, Button87Click, mcu_read_hjtemslope)      \
  X(27, Button90Click, Button91Click, mcu_read_hjtemzero)       \
  X(28, Button92Click, Button93Click, mcu_read_acvaslope)       \
  X(29, Button106Click, Button107Click, mcu_read_acvazero)      \
  X(30, Button116Click, Button117Click, mcu_read_loadzero)      \
  X(0, Button99Click, Button108Click, mcu_set_MoCount)

// The dry contacts: steps 1-4 are the types of contacts 1-4, steps 5-8 their states. Two
// decoders serve all eight reads, filling the box of the contact read last.
#define PAGE2_CONTACT_ROWS(X)     \
  X(1, Button42Click, Button43Click) \
  X(2, Button46Click, Button47Click) \
  X(3, Button50Click, Button51Click) \
  X(4, Button54Click, Button55Click) \
  X(5, Button45Click, Button44Click) \
  X(6, Button48Click, Button49Click) \
  X(7, Button52Click, k)             \
  X(8, Button56Click, Button57Click)
#define PAGE2_CONTACT_DECODERS(X) X(mcu_read_relaytype) X(mcu_read_relaystatus)
