#include "protocol/Csv.h"

QByteArray csvLine(const QStringList &fields) {
  QStringList quoted;
  for (QString field : fields) {
    if (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) || field.contains(QLatin1Char('\n')) ||
        field.contains(QLatin1Char('\r'))) {
      field.replace(QLatin1String("\""), QLatin1String("\"\""));
      field = QLatin1Char('"') + field + QLatin1Char('"');
    }
    quoted << field;
  }
  return quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

QByteArray csvText(const QList<QStringList> &rows) {
  QByteArray out("\xEF\xBB\xBF");
  for (const QStringList &row : rows) out += csvLine(row);
  return out;
}
