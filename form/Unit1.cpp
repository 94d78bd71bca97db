#include "form/Unit1.h"

#include <QElapsedTimer>
#include <QFont>
#include <QPalette>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/toolkit/application.h"
#include "platform/toolkit/text_bytes.h"
#include "spool/copy_count.h"
#include "spool/list_file.h"
#include "spool/list_syntax.h"
#include "spool/print_run.h"

TForm1* Form1 = nullptr;

namespace {

constexpr QSize kClientArea{741, 553};

// The window's font: the original face first, then stand-ins with Japanese glyphs whose
// metrics at 15 pixels come closest to it (IPAPGothic: ascent 13, height 16).
QFont windowFont() {
  QFont font;
  font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                    QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")});
  font.setPixelSize(15);
  return font;
}

template <typename W>
W* place(W* widget, const char* name, QRect geometry) {
  widget->setObjectName(QLatin1String(name));
  widget->setGeometry(geometry);
  return widget;
}

// A label takes the size of its caption in the window's font, as a label sized to its caption
// does: the font that stands in for the original face needs a pixel or three more than the
// original's widths.
QLabel* label(QWidget* client, const char* name, QPoint topLeft, const QString& caption,
              bool black) {
  auto* l = new QLabel(caption, client);
  l->setObjectName(QLatin1String(name));
  l->move(topLeft);
  l->adjustSize();
  if (black) {
    QPalette palette = l->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    l->setPalette(palette);
  }
  return l;
}

QLineEdit* edit(QWidget* client, const char* name, QRect geometry, const QString& text = {}) {
  auto* e = place(new QLineEdit(text, client), name, geometry);
  e->setMaxLength(std::numeric_limits<int>::max());
  return e;
}

// No button is the window's default: Enter presses a button only while it has the focus
// (autoDefault outside a dialog gives exactly that), and Esc presses none.
QPushButton* button(QWidget* client, const char* name, QRect geometry, const QString& caption) {
  auto* b = place(new QPushButton(caption, client), name, geometry);
  b->setAutoDefault(true);
  b->setDefault(false);
  return b;
}

QPlainTextEdit* memo(QWidget* client, const char* name, QRect geometry, bool wrap) {
  auto* m = place(new QPlainTextEdit(client), name, geometry);
  m->setTabChangesFocus(true);
  m->setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m->setHorizontalScrollBarPolicy(wrap ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
  return m;
}

// The controls as a run sees them. The message pane repaints as its lines come, at most about
// 20 times a second, while no input is taken until the run ends.
class FormRunControls final : public spool::RunControls {
 public:
  explicit FormRunControls(TForm1& form) : form_(form) { sinceRepaint_.start(); }

  std::string printerBoxText() override { return toolkit::toBytes(form_.ComboBox1->currentText()); }
  std::string folderText() override { return toolkit::toBytes(form_.Edit3->text()); }
  std::string copiesText() override { return toolkit::toBytes(form_.Edit2->text()); }

  std::vector<std::string> listLines() override {
    std::vector<std::string> lines;
    const QTextDocument* document = form_.Memo2->document();
    if (document->isEmpty()) {
      return lines;
    }
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
      lines.push_back(toolkit::toBytes(block.text()));
    }
    return lines;
  }

  void appendMessage(std::string_view line) override {
    form_.Memo1->appendPlainText(toolkit::lineFromBytes(line));
    if (sinceRepaint_.elapsed() >= kRepaintEveryMs) {
      form_.Memo1->repaint();
      sinceRepaint_.restart();
    }
  }

 private:
  static constexpr qint64 kRepaintEveryMs = 50;
  TForm1& form_;
  QElapsedTimer sinceRepaint_;
};

// A path up to and including its last separator; empty when it has none.
std::string folderPart(const std::string& path) {
  const std::size_t separator = path.rfind(spool::kPathSeparator);
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// Every byte of a path after its last separator.
std::string namePart(const std::string& path) {
  const std::size_t separator = path.rfind(spool::kPathSeparator);
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

// The entries as the file list pane's text, one line each. When the last entry is empty, the
// text ends in a line break of its own, so that the empty entry stays a line of the pane and an
// added file goes below it.
QString paneText(const std::vector<std::string>& entries) {
  QString text;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) {
      text += u'\n';
    }
    text += toolkit::lineFromBytes(entries[i]);
  }
  if (!entries.empty() && entries.back().empty()) {
    text += u'\n';
  }
  return text;
}

// The line goes below the pane's last line. A pane that ends in a line break already has its
// empty last line to take it, as a list box's lines would.
void appendLineOfItsOwn(QPlainTextEdit& pane, const QString& line) {
  QTextCursor cursor(pane.document());
  cursor.movePosition(QTextCursor::End);
  if (!cursor.block().text().isEmpty()) {
    cursor.insertBlock();
  }
  cursor.insertText(line);
}

}  // namespace

TForm1::TForm1(spool::Spooler& spooler, spool::PrinterEnumeration& printers, QWidget* parent)
    : QWidget(parent), spooler_(spooler), printers_(printers), scrollArea_(new QScrollArea(this)) {
  setWindowTitle(QStringLiteral("Send many files to printer"));
  setFont(windowFont());
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Button));
  setPalette(palette);
  setAutoFillBackground(true);

  scrollArea_->setObjectName(QStringLiteral("scrollArea"));
  scrollArea_->setFocusPolicy(Qt::NoFocus);
  scrollArea_->setFrameShape(QFrame::NoFrame);
  scrollArea_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // A child of the window from the start, so that the labels measure their captions in the
  // window's font; the scroll area takes it over below.
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("client"));
  client->setFixedSize(kClientArea);
  buildControls(client);
  scrollArea_->setWidget(client);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(scrollArea_);

  setTabOrder();
  wireEvents();
  Edit1->setFocus();
  toolkit::guarded([this] { FormCreate(); });
}

void TForm1::buildControls(QWidget* client) {
  Label1 = label(client, "Label1", {16, 56}, QStringLiteral("リストファイルの読み込み"), true);
  Label2 = label(client, "Label2", {16, 160}, QStringLiteral("プリンタ名"), true);
  Edit1 = edit(client, "Edit1", {136, 72, 457, 23});
  Button1 = button(client, "Button1", {608, 72, 65, 25}, QStringLiteral("参照"));
  Button3 = button(client, "Button3", {520, 200, 97, 33}, QStringLiteral("処理開始"));
  Button4 = button(client, "Button4", {640, 200, 97, 33}, QStringLiteral("終了"));
  OpenDialog1 = new toolkit::OpenDialog(this);
  OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
  Memo1 = memo(client, "Memo1", {264, 248, 473, 305}, true);
  ComboBox1 = place(new toolkit::ComboBox(client), "ComboBox1", {88, 152, 497, 23});
  Label3 = label(client, "Label3", {264, 224}, QStringLiteral("メッセージ"), true);
  Label4 = label(client, "Label4", {608, 160}, QStringLiteral("印刷部数"), true);
  Edit2 = edit(client, "Edit2", {680, 152, 33, 23}, QStringLiteral("1"));
  Memo2 = memo(client, "Memo2", {16, 232, 233, 321}, false);
  Label5 = label(client, "Label5", {16, 208}, QStringLiteral("出力するファイルのリスト"), true);
  Label6 = label(client, "Label6", {16, 24}, QStringLiteral("出力するファイルのフォルダ"), true);
  Edit3 = edit(client, "Edit3", {200, 16, 457, 23});
  Button2 = button(client, "Button2", {672, 16, 65, 25}, QStringLiteral("参照"));
  Label7 = label(client, "Label7", {16, 80}, QStringLiteral("リストファイル名"), false);
  UpDown1 = place(new toolkit::UpDown(client), "UpDown1", {720, 144, 21, 31});
  UpDown1->setRange(1, 1000);
  UpDown1->setPosition(1);
  Label8 = label(client, "Label8", {16, 120}, QStringLiteral("単体ファイルをリストへ追加"), false);
  Button5 = button(client, "Button5", {200, 112, 57, 25}, QStringLiteral("参照"));
  describeForScreenReaders();
}

// Each label is its field's buddy, so a screen reader announces the field by the label's
// caption. What no label can name gets a name that says what it is for: the printer box's own
// edit field (where the focus is while typing), the browse buttons, which all read "参照", and
// the spinner's arrows. Nothing visible changes.
void TForm1::describeForScreenReaders() {
  Label6->setBuddy(Edit3);
  Label7->setBuddy(Edit1);
  Label8->setBuddy(Button5);
  Label2->setBuddy(ComboBox1);
  Label4->setBuddy(Edit2);
  Label5->setBuddy(Memo2);
  Label3->setBuddy(Memo1);
  ComboBox1->lineEdit()->setAccessibleName(Label2->text());
  Button2->setAccessibleName(QStringLiteral("出力するファイルのフォルダを参照"));
  Button1->setAccessibleName(QStringLiteral("リストファイルを参照して読み込む"));
  Button5->setAccessibleName(QStringLiteral("リストへ追加する単体ファイルを参照"));
  UpDown1->setAccessibleName(Label4->text());
  UpDown1->upButton()->setAccessibleName(QStringLiteral("印刷部数を増やす"));
  UpDown1->downButton()->setAccessibleName(QStringLiteral("印刷部数を減らす"));
}

void TForm1::setTabOrder() {
  const QWidget* const order[] = {Edit1, Button1, Button3, Button4, Memo1,  ComboBox1,
                                  Edit2, Memo2,   Edit3,   Button2, Button5};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
    QWidget::setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));
  }
}

// Each handler runs inside the toolkit's guard, so a toolkit exception it lets escape is shown
// in the error box before it can reach Qt's own code, and the program goes on.
void TForm1::wireEvents() {
  const auto guard = [](auto handler) { return [handler] { toolkit::guarded(handler); }; };
  connect(Button1, &QPushButton::clicked, this, guard([this] { Button1Click(); }));
  connect(Button2, &QPushButton::clicked, this, guard([this] { Button2Click(); }));
  connect(Button3, &QPushButton::clicked, this, guard([this] { Button3Click(); }));
  connect(Button4, &QPushButton::clicked, this, guard([this] { Button4Click(); }));
  connect(Button5, &QPushButton::clicked, this, guard([this] { Button5Click(); }));
  connect(ComboBox1, &toolkit::ComboBox::change, this, guard([this] { ComboBox1Change(); }));
  connect(Edit2, &QLineEdit::textChanged, this, guard([this] { Edit2Change(); }));
  connect(UpDown1, &toolkit::UpDown::click, this, [this](toolkit::UDBtnType button) {
    toolkit::guarded([this, button] { UpDown1Click(button); });
  });
}

void TForm1::Button1Click() {
  OpenDialog1->Execute();
  Edit1->setText(OpenDialog1->FileName);
  const std::string name = toolkit::toBytes(Edit1->text());
  if (name.empty()) {
    Memo1->appendPlainText(QStringLiteral("list fname is empty."));
    return;
  }
  Edit3->setText(toolkit::fromBytes(folderPart(name)));
  Memo2->clear();
  const std::optional<std::vector<std::string>> entries = spool::readListFile(name);
  if (!entries) {
    Memo1->appendPlainText(QStringLiteral("cannot open list file"));
    return;
  }
  // One setPlainText for the whole list: for 100,000 entries an append per entry took 5.1 s,
  // this 0.49 s.
  Memo2->setPlainText(paneText(*entries));
}

// The list goes into the box before the default is looked up, so that a missing default still
// leaves the box with its full list, no entry selected and an empty text.
void TForm1::FormCreate() {
  Printer1 = std::make_unique<toolkit::Printer>(printers_);
  QStringList entries;
  for (const auto& entry : Printer1->printers()) {
    entries.push_back(toolkit::fromBytes(entry.text));
  }
  ComboBox1->setItems(entries);
  ComboBox1->setCurrentIndex(Printer1->printerIndex());
}

void TForm1::Button4Click() {
  close();
}

// The spooler keeps the window painted while it waits for the server, but the run takes no
// input: the operator's keys and clicks are delivered once it has ended, and so is a close.
void TForm1::Button3Click() {
  running_ = true;
  const std::unique_ptr<TForm1, void (*)(TForm1*)> ended(this, [](TForm1* form) {
    form->running_ = false;
    if (std::exchange(form->closeAsked_, false)) {
      form->close();
    }
  });
  FormRunControls controls(*this);
  spool::runCopies(controls, spooler_, [this] { PrintListedFiles(); });
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (running_) {
    closeAsked_ = true;
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void TForm1::PrintListedFiles() {
  FormRunControls controls(*this);
  spool::printListedFiles(controls, spooler_, files_);
}

void TForm1::ComboBox1Change() {
  Printer1->setPrinterIndex(ComboBox1->currentIndex());
}

// The browser is not offered the folder box's text: it opens at the top of the file system with
// nothing preselected, and a cancel empties the folder box.
void TForm1::Button2Click() {
  QString folder;
  if (FolderBrowser1.selectDirectory(QStringLiteral("フォルダを指定して下さい。"), folder)) {
    Memo1->appendPlainText(QStringLiteral("「") + toolkit::asOneLine(folder) +
                           QStringLiteral("」が選択されました。"));
  }
  Edit3->setText(folder);
}

// A text with no number at its start leaves the spinner where it is, even when a digit stands
// later in it.
void TForm1::Edit2Change() {
  const std::string text = toolkit::toBytes(Edit2->text());
  if (!spool::containsDigit(text)) {
    return;
  }
  if (const std::optional<std::int32_t> count = spool::readCopyCount(text)) {
    UpDown1->setPosition(spool::spinnerPosition(*count));
  }
}

void TForm1::UpDown1Click(toolkit::UDBtnType button) {
  const std::string text = toolkit::toBytes(Edit2->text());
  Edit2->setText(
      toolkit::fromBytes(spool::stepCopiesText(text, button == toolkit::UDBtnType::btNext)));
}

// The file's folder is not compared with the folder box: only its name joins the list.
void TForm1::Button5Click() {
  if (!OpenDialog1->Execute()) {
    return;
  }
  appendLineOfItsOwn(*Memo2,
                     toolkit::lineFromBytes(namePart(toolkit::toBytes(OpenDialog1->FileName))));
}
