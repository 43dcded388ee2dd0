#include "base/system_log.h"

#include <fcntl.h>

#include <QLocale>
#include <QString>
#include <utility>

#include "base/raw_file.h"

namespace {

// The locale's time format with seconds but without a zone name, which the long format of some
// locales carries ("HH:mm:ss t").
QString Time_Format(const QLocale& locale) {
  QString format = locale.timeFormat(QLocale::LongFormat);
  format.remove(QLatin1Char('t'));
  format = format.trimmed();
  if (!format.contains(QLatin1Char('s'))) format = QStringLiteral("HH:mm:ss");
  return format;
}

}  // namespace

System_Log::System_Log(std::string data_folder, Clock clock)
    : data_folder_(std::move(data_folder)), clock_(std::move(clock)) {}

std::string System_Log::File_For(const QDateTime& when) const {
  const QDate date = when.date();
  return data_folder_ + "dorvex_" + std::to_string(date.year()) + "_" +
         QString::number(date.month()).rightJustified(2, QLatin1Char('0')).toStdString() + ".log";
}

void System_Log::Log_Message(const std::string& text, uint32_t colour) {
  const QDateTime now = clock_ ? clock_() : QDateTime::currentDateTime();
  const QLocale locale = QLocale::system();
  const QString stamp = locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                        now.time().toString(Time_Format(locale));
  std::string line = stamp.toLocal8Bit().toStdString() + "  " + text;
  current_file_ = File_For(now);
  if (pane_) pane_->Show_Log_Line(line, colour);
  line += "\r\n";
  // Opened, appended and closed per line so that other programs may read or move the file
  // between lines. The log never reports its own failures.
  Raw_File file;
  if (!file.Open(current_file_, O_WRONLY | O_CREAT | O_APPEND)) return;
  file.Write_All(line.data(), line.size());
  file.Close();
  if (pane_) pane_->Log_File_Appended();
}

bool System_Log::Clear_Current_File() {
  if (current_file_.empty()) return false;
  Raw_File file;
  return file.Open(current_file_, O_WRONLY | O_CREAT | O_TRUNC);
}
