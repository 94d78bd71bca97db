#pragma once

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QWidget>
#include <memory>

#include "platform/toolkit/combo_box.h"
#include "platform/toolkit/folder_browser.h"
#include "platform/toolkit/open_dialog.h"
#include "platform/toolkit/printer.h"
#include "platform/toolkit/up_down.h"
#include "spool/printer_enumeration.h"
#include "spool/source_file.h"
#include "spool/spooler.h"

// The program's one window. Every control sits at a fixed place inside a 741 x 553 client area
// that scrolls when the window is smaller; each control's objectName is its member's name.
class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // Building the form builds every control, then runs FormCreate (a toolkit exception escaping
  // it is shown in the error box and the form is built all the same). Jobs go to `spooler`;
  // the printer box lists what `printers` enumerates.
  TForm1(spool::Spooler& spooler, spool::PrinterEnumeration& printers, QWidget* parent = nullptr);

  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button3 = nullptr;
  QPushButton* Button4 = nullptr;
  toolkit::OpenDialog* OpenDialog1 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  toolkit::ComboBox* ComboBox1 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QLineEdit* Edit2 = nullptr;
  QPlainTextEdit* Memo2 = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Label6 = nullptr;
  QLineEdit* Edit3 = nullptr;
  QPushButton* Button2 = nullptr;
  QLabel* Label7 = nullptr;
  toolkit::UpDown* UpDown1 = nullptr;
  QLabel* Label8 = nullptr;
  QPushButton* Button5 = nullptr;
  toolkit::FolderBrowser FolderBrowser1{this};

  QScrollArea* scrollArea() const { return scrollArea_; }

 public slots:
  void Button1Click();
  void FormCreate();
  void Button4Click();
  void Button3Click();
  void ComboBox1Change();
  void Button2Click();
  void UpDown1Click(toolkit::UDBtnType button);
  void Edit2Change();
  void Button5Click();

 protected:
  // A close asked for while a run lasts (the window manager's close button) waits for the run's
  // end, so that no job is cut in half.
  void closeEvent(QCloseEvent* event) override;

 private:
  void PrintListedFiles();

  void buildControls(QWidget* client);
  void describeForScreenReaders();
  void setTabOrder();
  void wireEvents();

  spool::Spooler& spooler_;
  spool::PrinterEnumeration& printers_;
  // Serves only to fill the printer box and follow its selection; the run never prints
  // through it. Null until FormCreate.
  std::unique_ptr<toolkit::Printer> Printer1;
  spool::PosixFileOpener files_;
  QScrollArea* scrollArea_ = nullptr;
  bool running_ = false;
  bool closeAsked_ = false;
};

// The one instance, created by the entry.
extern TForm1* Form1;
