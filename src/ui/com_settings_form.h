// TForm_Com_Settings: the "Serial Port Settings" dialog. The operator chooses the baud rate
// (`COM_Baud`); data bits, stop bits, parity and flow control are shown fixed. The automation
// page fills the rate list, sets its text and locks it while the link is open. Main thread only.
//
// Com_Ports_Available fills the automation page's port box with the serial ports that exist and
// open exclusively at the moment of the scan, and selects the configured one.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "automation/serial_line_settings.h"
#include "base/settings.h"

class Page_Host;
class QComboBox;
class QLineEdit;

class TForm_Com_Settings : public QDialog {
  Q_OBJECT

 public:
  // `centre_on` is the main window, over which the dialog is shown.
  TForm_Com_Settings(Settings_Record& settings, Page_Host& host, QWidget* centre_on);

  // Fills the rate list with the eight rates and sets the text to `COM_Baud` (no handler runs).
  void Fill_Baud_Rates();

  QComboBox* ComboBox_COM_Baud;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ComboBox_COM_BaudChange(const QString& text);

  Settings_Record& settings_;
  Page_Host& host_;
  QWidget* centre_on_;
};

// The names ("COM" + n, n from 1 to 64 in increasing order) of the serial ports that exist and
// open exclusively now.
using Port_Scan = std::function<std::vector<std::string>()>;

// Com_Ports_Available: while the serial port is open the box only shows `COM_Name`. Otherwise the
// list is rebuilt from `scan`; an empty `COM_Name` becomes the first free port (in memory only);
// the entry equal to `COM_Name` is selected, or none (box empty) when it is not listed. The box's
// change handler does not run.
void Com_Ports_Available(QComboBox& box, Settings_Record& settings, bool serial_port_open,
                         const Port_Scan& scan);
