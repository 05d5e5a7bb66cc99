// History records ("历史记录"): the record count, the read-out of every record from the
// newest index down to 0, one request per answer, and the erasing of the history.
#include "pages/Records.h"

#include <QLabel>
#include <QPushButton>

#include "protocol/Conversions.h"
#include "window/Controls.h"
#include "window/HandlerSupport.h"
#include "window/Unit1.h"


// ---------------------------------------------------------------- layout

void TForm1::buildRecordsPage() {
  QWidget *page = TabSheet4;
  ValueListEditor1 = new TValueListEditor(page, QStringLiteral("ValueListEditor1"), QStringLiteral("发生时间"),
                                          QStringLiteral("告警事件"));
  ValueListEditor1->setGeometry(8, 8, 420, 540);
  ValueListEditor1->setColumnWidth(0, 166);
  ValueListEditor1->setColumnWidth(1, 229);
  struct Button {
    const char *name;
    QString caption;
    void (TForm1::*handler)();
  };
  const Button buttons[] = {{"Button146", QStringLiteral("读记录数"), &TForm1::Button146Click},
                            {"Button40", QStringLiteral("获取记录"), &TForm1::Button40Click},
                            {"Button41", QStringLiteral("清除记录"), &TForm1::Button41Click}};
  int top = 16;
  for (const Button &b : buttons) {
    onButton(placeControl<QPushButton>(page, b.name, b.caption, 448, top, 90, 25), b.handler);
    top += 40;
  }
  // the count the controller holds, under the buttons (their column has room for it)
  LabelRecordCount = placeControl<QLabel>(page, "LabelRecordCount", QStringLiteral("记录数：未读"), 448, top, 125, 18);
}

// ---------------------------------------------------------------- requests

// "读记录数": the request carries a fixed pattern the controller expects.
void TForm1::Button146Click() {
  send(proto::Command::HistoryCount, {0x00, 0x01, 0x01, 0x01, 0x01, 0x01});
}

// "获取记录": the read-out from the record index down to 0. With no record to fetch (the
// count was 0) nothing is asked for: there is no index -1.
// With no count read on this link, the count is read first and the read-out follows it.
void TForm1::Button40Click() {
  if (cancelledChain_ == RecordsChain) cancelledChain_ = OperatorRequest;
  ValueListEditor1->Clear();
  if (!recordCountKnown_) {
    fetchAfterCount_ = true;
    SendingAs chain(*this, RecordsChain, 0, false);
    Button146Click();
    return;
  }
  startRecordReadOut();
}

void TForm1::startRecordReadOut() {
  if (recordIndex < 0) return;
  recordCount = recordIndex + 1;
  SendingAs chain(*this, RecordsChain, 0, sending_.automatic);  // requestRecord names the record
  requestRecord();
}

// "清除记录": once the operator has said yes, the controller erases its history; the list
// empties at once, whatever it answers.
void TForm1::Button41Click() {
  if (!AskYesNo(QStringLiteral("确定清除控制器中的全部告警记录？"))) return;
  send(proto::Command::HistoryClear);
  ValueListEditor1->Clear();
}

// The read-out counts its requests from the index it started at (an answer to a request the
// operator built by hand may carry it on from a higher index).
void TForm1::requestRecord() {
  if (recordIndex >= recordCount) recordCount = recordIndex + 1;
  recordsRead = recordCount - recordIndex;
  chainStep(Chain::Records, recordsRead, recordCount);
  SendingAs as(*this, recordIndex);
  send(proto::Command::HistoryRecord, {static_cast<uint8_t>(recordIndex >> 8), static_cast<uint8_t>(recordIndex & 0xFF)},
       CidCase::Lower);
}

// ---------------------------------------------------------------- decoders

void TForm1::mcu_read_recordnum(QObject *) {
  if (!answerHolds(2, false)) {
    if (answeringTag() == RecordsChain) fetchAfterCount_ = false;
    return;
  }
  recordIndex = dataByte(0) * 256 + dataByte(1) - 1;
  recordCountKnown_ = true;
  showText(LabelRecordCount, QStringLiteral("记录数：%1").arg(recordIndex + 1));
  if (answeringTag() == RecordsChain && fetchAfterCount_ && cancelledChain_ != RecordsChain) {
    fetchAfterCount_ = false;
    startRecordReadOut();
  }
}

// One record, then the next lower index. A refusal stops the read-out at the failed index,
// so "获取记录" resumes there. An answer without a record (an erased slot) adds no row; one
// too short to hold a record is reported too, and neither stops the read-out.
void TForm1::mcu_read_record(QObject *) {
  if (returnCode() != 0) {
    reportReadError(true);
    if (answeringTag() == RecordsChain) recordIndex = answeringContext();  // resumes here
    return;
  }
  if (dataAvailable() < history::kRecordBytes) {
    reportReadError(true);
  } else {
    const uint8_t *record = &payload[4];
    if (!history::isEmpty(record))
      ValueListEditor1->InsertRow(history::timeText(record), history::eventText(record[6], record[7]));
  }
  // only the read-out's own answers carry it on, from the index their request named
  if (!carriesOn(RecordsChain)) return;
  if (answeringTag() == RecordsChain) recordIndex = answeringContext();
  if (recordIndex > 0) {
    --recordIndex;
    SendingAs chain(*this, RecordsChain, 0, true);
    requestRecord();
  }
}
