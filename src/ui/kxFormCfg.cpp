#include "ui/kxFormCfg.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QScreen>
#include <QSplitter>
#include <QTextBlock>
#include <QVBoxLayout>

#include "core/infoslot.h"
#include "core/optiontable.h"
#include "core/project.h"
#include "platform/text.h"

namespace kx {

namespace {
// Columns of lOptions.
enum { kKey, kValue, kDefault, kMeaning };

QString Q(const std::string& s) { return QString::fromStdString(s); }

QPushButton* CfgButton(QWidget* parent, const char* name, const char* caption) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(name);
  b->setAutoDefault(false);
  return b;
}

TkxStringList SettingsOf(const QString& text) {
  TkxStringList l;
  l.SetText(text.toStdString());
  return l;
}
}  // namespace

TkxFrmCfg::TkxFrmCfg(QWidget* parent) : TkxFrmBase(parent) {
  setObjectName("frmCfg");
  setWindowTitle("Config");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setSizeGripEnabled(true);
  txtCfg = new QPlainTextEdit(this);
  txtCfg->setObjectName("txtCfg");
  txtCfg->setLineWrapMode(QPlainTextEdit::NoWrap);
  txtCfg->setToolTip("Please add/delete/modify the options by yourself");
  lblWarnings = new QLabel(this);
  lblWarnings->setObjectName("lblWarnings");
  lblWarnings->setTextFormat(Qt::PlainText);
  lblWarnings->setWordWrap(true);
  QPalette pal = lblWarnings->palette();
  pal.setColor(QPalette::WindowText, QColor(180, 0, 0));
  lblWarnings->setPalette(pal);
  lblWarnings->hide();
  lOptions = new QTreeWidget(this);
  lOptions->setObjectName("lOptions");
  lOptions->setHeaderLabels({"Option", "Value", "Default", "Meaning"});
  lOptions->setRootIsDecorated(false);
  lOptions->setUniformRowHeights(true);
  lOptions->setSelectionMode(QAbstractItemView::SingleSelection);
  lOptions->setToolTip("Every option with its default; double-click one to add its line");
  lOptions->header()->setStretchLastSection(true);
  btnOk = CfgButton(this, "btnOk", "&Ok");
  btnCancel = CfgButton(this, "btnCancel", "Cancel");
  btnHelp = CfgButton(this, "btnHelp", "Help");
  btnHelp->setToolTip("Click here to see the details about the options");

  auto* split = new QSplitter(Qt::Vertical, this);
  split->setObjectName("splCfg");
  split->setChildrenCollapsible(false);
  auto* top = new QWidget(split);
  auto* topLayout = new QVBoxLayout(top);
  topLayout->setContentsMargins(0, 0, 0, 0);
  topLayout->addWidget(txtCfg, 1);
  topLayout->addWidget(lblWarnings);
  split->addWidget(top);
  split->addWidget(lOptions);
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnHelp);
  buttons->addStretch(1);
  buttons->addWidget(btnOk);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(split, 1);
  layout->addLayout(buttons);

  connect(btnOk, &QPushButton::clicked, this, [this] {
    btnOkClick();
    accept();
  });
  connect(btnCancel, &QPushButton::clicked, this, [this] { reject(); });
  connect(btnHelp, &QPushButton::clicked, this, [this] { btnHelpClick(); });
  connect(txtCfg, &QPlainTextEdit::textChanged, this, [this] { TextChanged(); });
  connect(lOptions, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* row) { AddOptionLine(row); });

  // Room for the option table's meanings; less on a small screen.
  QSize size(fontMetrics().averageCharWidth() * 130, fontMetrics().height() * 34);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    size = size.boundedTo(screen->availableGeometry().size() * 0.9);
  resize(size.expandedTo(minimumSizeHint()));
  CentreOnScreen();
}

void TkxFrmCfg::showEvent(QShowEvent* e) {
  FormShow();
  TkxFrmBase::showEvent(e);
}

void TkxFrmCfg::FormShow() {
  if (!Project) return;
  Project->StoreSettings(false);
  std::string text = ReplaceAll(Project->GetSettingsText(), "\r\n", "\n");
  txtCfg->setPlainText(Q(text));
  TextChanged();
}

std::vector<std::string> TkxFrmCfg::Warnings() const { return OptionWarnings(SettingsOf(txtCfg->toPlainText())); }

void TkxFrmCfg::TextChanged() {
  std::vector<std::string> warnings = Warnings();
  QStringList lines;
  for (const std::string& w : warnings) lines << Q("Warning: " + w);
  lblWarnings->setText(lines.join('\n'));
  lblWarnings->setVisible(!lines.isEmpty());

  TkxStringList settings = SettingsOf(txtCfg->toPlainText());
  lOptions->clear();
  QList<QTreeWidgetItem*> set, unset;
  for (const TkxOptionKey& k : OptionTable()) {
    if (!k.Listed) continue;
    std::string value = settings.GetValue(k.Key);
    auto* row = new QTreeWidgetItem(
        QStringList{Q(k.Key), Q(value), k.Default[0] ? Q(k.Default) : QString("(empty)"), Q(k.Meaning)});
    row->setToolTip(kMeaning, Q(k.Meaning));
    if (value.empty()) {
      unset << row;
    } else {
      QFont bold = row->font(kKey);
      bold.setBold(true);
      row->setFont(kKey, bold);
      set << row;
    }
  }
  lOptions->addTopLevelItems(set + unset);
  for (int c : {kKey, kValue, kDefault}) lOptions->resizeColumnToContents(c);
}

void TkxFrmCfg::AddOptionLine(QTreeWidgetItem* row) {
  if (!row || !row->text(kValue).isEmpty()) return;
  QString text = txtCfg->toPlainText();
  if (!text.isEmpty() && !text.endsWith('\n')) text += '\n';
  txtCfg->setPlainText(text + row->text(kKey) + "=");
  QTextCursor end = txtCfg->textCursor();
  end.movePosition(QTextCursor::End);
  txtCfg->setTextCursor(end);
  txtCfg->setFocus();
}

void TkxFrmCfg::btnOkClick() {
  if (!Project) return;
  Project->SetSettingsText(txtCfg->toPlainText().toStdString());
  Project->ApplyToControls();
}

void TkxFrmCfg::btnHelpClick() {
  if (Info) Info->OpenLink("h", "", "");
}

}  // namespace kx
