#include "XLImportWindow.h"

#include "core/Clock.h"
#include "core/Dialogs.h"
#include "core/Services.h"
#include "data/ListManager.h"
#include "data/TableViewModel.h"
#include "lists/ValidateEmail.h"
#include "HarvestFile.h"
#include "XLImport.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace bv::lists {

namespace {

template <typename W> W* named(W* widget, const char* name, const QString& accessible)
{
    widget->setObjectName(QLatin1String(name));
    widget->setAccessibleName(accessible);
    return widget;
}

QPushButton* button(const QString& caption, const char* name, QWidget* parent)
{
    auto* b = named(new QPushButton(caption, parent), name, caption);
    b->setAutoDefault(false);
    return b;
}

QStringList letters()
{
    QStringList out;
    for (char c = 'A'; c < 'A' + WorkbookColumns; ++c)
        out << QString(QLatin1Char(c));
    return out;
}

QTableView* grid(data::TableViewModel* model, const char* name, const QString& accessible,
                 QWidget* parent)
{
    auto* g = named(new QTableView(parent), name, accessible);
    g->setModel(model);
    g->setSelectionBehavior(QAbstractItemView::SelectRows);
    g->setEditTriggers(QAbstractItemView::NoEditTriggers);
    g->horizontalHeader()->setStretchLastSection(true);
    g->verticalHeader()->setDefaultSectionSize(g->fontMetrics().height() + 6);
    // Each filling sizes the columns to what they hold (on the first rows),
    // so that addresses show whole, within bounds.
    QObject::connect(model, &QAbstractItemModel::modelReset, g, [g] {
        g->resizeColumnsToContents();
        for (int c = 0; c < g->model()->columnCount(); ++c)
            g->setColumnWidth(c, qBound(60, g->columnWidth(c), 320));
    });
    return g;
}

// Selects the entry equal to text ignoring letter case; none when absent.
void selectEntry(QComboBox* box, const QString& text)
{
    box->setCurrentIndex(box->findText(text, Qt::MatchFixedString));
}

} // namespace

TfrmXLImport::TfrmXLImport(Services& services, data::Connection& data,
                           data::Connection& localConnect, QWidget* parent)
    : QDialog(parent), tbTmpRecipients(data, QStringLiteral("tmpRecipientList")),
      tbNewRecipients(data, QStringLiteral("RecipientList")), m_services(services), m_data(data),
      m_localConnect(localConnect)
{
    setObjectName(QStringLiteral("frmXLImport"));
    setWindowTitle(QStringLiteral("Import from Excel"));
    tbTmpRecipients.setObjectName(QStringLiteral("tbTmpRecipients"));
    tbNewRecipients.setObjectName(QStringLiteral("tbNewRecipients"));
    tbNewRecipients.setFilter(QStringLiteral("New = True"));
    tbNewRecipients.setFiltered(true);
    buildWindow();
}

TfrmXLImport::~TfrmXLImport()
{
    // The grids go before the views they read.
    delete dbgTmpRecipients;
    delete dbgNewRecipients;
}

void TfrmXLImport::buildWindow()
{
    txtExcelFile = named(new QLineEdit(this), "txtExcelFile", QStringLiteral("Excel File"));
    btnOpenFile = button(QStringLiteral("..."), "btnOpenFile", this);
    btnOpenFile->setAccessibleName(QStringLiteral("Choose Excel File"));
    btnOpenFile->setMaximumWidth(
        btnOpenFile->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
    btnViewData = button(QStringLiteral("View Data"), "btnViewData", this);
    cbDefinition = named(new QComboBox(this), "cbDefinition", QStringLiteral("Import Definition"));
    cbDefinition->setEditable(true);
    cbDefinition->setInsertPolicy(QComboBox::NoInsert);
    cbDefinition->setMinimumContentsLength(24);
    btnSave = button(QStringLiteral("Save"), "btnSave", this);
    btnDelete = button(QStringLiteral("Delete"), "btnDelete", this);

    cbEmail = named(new QComboBox(this), "cbEmail", QStringLiteral("Email"));
    cbEmail->addItems(QStringList{requiredEntry()} + letters());
    cbSal = named(new QComboBox(this), "cbSal", QStringLiteral("(Sal.)"));
    cbFN = named(new QComboBox(this), "cbFN", QStringLiteral("First Name"));
    cbLN = named(new QComboBox(this), "cbLN", QStringLiteral("Last Name"));
    for (QComboBox* b : {cbSal, cbFN, cbLN})
        b->addItems(QStringList{noneEntry()} + letters());
    cbList = named(new QComboBox(this), "cbList", QStringLiteral("List"));
    cbList->setMinimumContentsLength(20);
    btnImportData = button(QStringLiteral("Import Data"), "btnImportData", this);
    btnClose = button(QStringLiteral("Close"), "btnClose", this);

    QList<data::TableViewModel::Column> staging;
    for (const QString& l : letters())
        staging.append({l, l});
    dbgTmpRecipients = grid(new data::TableViewModel(tbTmpRecipients, staging, this),
                            "dbgTmpRecipients", QStringLiteral("Spreadsheet Data"), this);
    dbgNewRecipients =
        grid(new data::TableViewModel(tbNewRecipients,
                                      {{QStringLiteral("Salutation"), QStringLiteral("(Sal.)")},
                                       {QStringLiteral("FirstName"), QStringLiteral("First Name")},
                                       {QStringLiteral("LastName"), QStringLiteral("Last Name")},
                                       {QStringLiteral("Email"), QStringLiteral("Email")}},
                                      this),
             "dbgNewRecipients", QStringLiteral("Recipients Added"), this);
    memResults = named(new QPlainTextEdit(this), "memResults", QStringLiteral("Results"));
    memResults->setReadOnly(true);

    auto* file = new QHBoxLayout;
    auto* fileLabel = new QLabel(QStringLiteral("Excel File"), this);
    fileLabel->setBuddy(txtExcelFile);
    file->addWidget(fileLabel);
    file->addWidget(txtExcelFile, 1);
    file->addWidget(btnOpenFile);
    file->addWidget(btnViewData);
    auto* definition = new QHBoxLayout;
    auto* definitionLabel = new QLabel(QStringLiteral("Import Definition"), this);
    definitionLabel->setBuddy(cbDefinition);
    definition->addWidget(definitionLabel);
    definition->addWidget(cbDefinition, 1);
    definition->addWidget(btnSave);
    definition->addWidget(btnDelete);

    auto* translation = named(new QGroupBox(QStringLiteral("Input Translation"), this),
                              "grpTranslation", QStringLiteral("Input Translation"));
    auto* pickers = new QHBoxLayout(translation);
    const QList<QPair<QString, QComboBox*>> labelled{{QStringLiteral("Email"), cbEmail},
                                                     {QStringLiteral("(Sal.)"), cbSal},
                                                     {QStringLiteral("First Name"), cbFN},
                                                     {QStringLiteral("Last Name"), cbLN},
                                                     {QStringLiteral("List"), cbList}};
    for (const auto& [caption, box] : labelled) {
        auto* form = new QFormLayout;
        auto* label = new QLabel(caption, translation);
        label->setBuddy(box);
        form->addRow(label);
        form->addRow(box);
        pickers->addLayout(form);
    }
    pickers->addWidget(btnImportData, 0, Qt::AlignBottom);

    auto* results = new QHBoxLayout;
    results->addWidget(memResults, 1);
    results->addWidget(dbgNewRecipients, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(btnClose);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(file);
    layout->addLayout(definition);
    layout->addWidget(dbgTmpRecipients, 1);
    layout->addWidget(translation);
    layout->addLayout(results, 1);
    layout->addLayout(bottom);
    resize(860, 620);

    connect(btnOpenFile, &QPushButton::clicked, this, &TfrmXLImport::chooseFile);
    connect(btnViewData, &QPushButton::clicked, this, &TfrmXLImport::viewData);
    connect(btnImportData, &QPushButton::clicked, this, &TfrmXLImport::importData);
    connect(btnSave, &QPushButton::clicked, this, &TfrmXLImport::saveDefinition);
    connect(btnDelete, &QPushButton::clicked, this, &TfrmXLImport::deleteDefinition);
    connect(cbDefinition, &QComboBox::activated, this, &TfrmXLImport::definitionPicked);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
}

void TfrmXLImport::showEvent(QShowEvent* event)
{
    openWindow();
    QDialog::showEvent(event);
}

void TfrmXLImport::openWindow()
{
    memResults->clear();
    cbList->clear();
    cbList->addItem(requiredEntry());
    guarded([this] {
        QStringList names;
        data::LoadListNames(m_localConnect, names);
        cbList->addItems(names);
    });
    cbList->setCurrentIndex(0);
    guarded([this] {
        clearNewMarks(m_data);
        tbNewRecipients.close();
        tbNewRecipients.open();
        if (!tbTmpRecipients.isOpen())
            tbTmpRecipients.open();
    });
    fillDefinitions();
}

void TfrmXLImport::done(int result)
{
    // Not while a workbook is read: its rows are still going in.
    if (m_reading)
        return;
    guarded([this] {
        clearNewMarks(m_data);
        tbNewRecipients.close();
        tbTmpRecipients.close();
    });
    QDialog::done(result);
}

void TfrmXLImport::fillDefinitions()
{
    cbDefinition->clear();
    cbDefinition->addItem(noneEntry());
    guarded([this] { cbDefinition->addItems(definitionNames(m_data)); });
    cbDefinition->setCurrentIndex(0);
}

void TfrmXLImport::chooseFile()
{
    FileRequest r;
    r.title = QStringLiteral("Open Excel Import File");
    r.filter = QStringLiteral("Excel File (*.xls, *.xlsx)|*.xls;*.xlsx|Any File (*.*)|*.*");
    r.defaultExt = QStringLiteral("xls");
    r.initialDir = m_dialogFolder;
    r.fileName = m_dialogFileName;
    const QString path = m_services.dialogs.openFile(r);
    if (!path.isEmpty())
        txtExcelFile->setText(path);
}

void TfrmXLImport::viewData()
{
    const QString path = txtExcelFile->text();
    QProgressDialog progress(QStringLiteral("Reading..."), QStringLiteral("Cancel"), 0, 100, this);
    progress.setObjectName(QStringLiteral("frmReading"));
    progress.setWindowTitle(QStringLiteral("Reading..."));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setValue(0);
    m_reading = true;
    int reached = 0;
    EventThrottle throttle(m_services.clock, [&] { progress.setValue(reached); });
    try {
        tbTmpRecipients.close();
        const StagingResult r = fillStaging(m_data, path, [&](int percent) {
            reached = percent;
            throttle.tick();
            return !progress.wasCanceled();
        });
        for (const QString& e : r.rowErrors)
            addResult(e);
    } catch (const WorkbookError& e) {
        showError(e.message());
    } catch (const data::DbError& e) {
        showError(e.message());
    }
    m_reading = false;
    progress.reset();
    guarded([this] { tbTmpRecipients.open(); });
}

ColumnChoice TfrmXLImport::columns() const
{
    return {cbEmail->currentText(), cbSal->currentText(), cbFN->currentText(), cbLN->currentText()};
}

void TfrmXLImport::importData()
{
    const QString list = cbList->currentIndex() < 0 ? QString() : cbList->currentText();
    const QString refusal = importRefusal(columns(), list);
    if (!refusal.isEmpty()) {
        m_services.dialogs.message(refusal);
        return;
    }
    try {
        int refused = 0;
        QString firstRefusal;
        const int count = importStagingRows(m_data, columns(), list, &refused, &firstRefusal);
        QString text = recipientsAddedText(count, list);
        if (refused > 0)
            text += QLatin1Char('\n') + refusedRowsText(refused, firstRefusal);
        addResult(text);
        m_services.dialogs.message(text);
    } catch (const data::DbError& e) {
        addResult(QStringLiteral("Error: ") + e.message());
        m_services.dialogs.message(QStringLiteral("An error has occurred: ") + e.message(),
                                   Severity::Error);
    }
    guarded([this] { tbNewRecipients.refresh(); });
}

void TfrmXLImport::saveDefinition()
{
    const QString name = cbDefinition->currentText();
    if (name.compare(noneEntry(), Qt::CaseInsensitive) == 0)
        return;
    // The file-name part is what follows the last "/", "\" or ":".
    const QString path = txtExcelFile->text();
    qsizetype cut = path.size();
    while (cut > 0 && !QStringLiteral("/\\:").contains(path.at(cut - 1)))
        --cut;
    const ImportDefinition d{name, cbList->currentText(), path.left(cut), path.mid(cut), columns()};
    const QString refusal = definitionRefusal(d);
    if (!refusal.isEmpty()) {
        m_services.dialogs.message(refusal);
        return;
    }
    guarded([&] { lists::saveDefinition(m_data, d); });
}

void TfrmXLImport::definitionPicked()
{
    const QString typed = cbDefinition->currentText();
    if (typed.compare(noneEntry(), Qt::CaseInsensitive) == 0) {
        for (QComboBox* b : {cbList, cbSal, cbFN, cbLN, cbEmail})
            b->setCurrentIndex(0);
        txtExcelFile->clear();
        m_dialogFolder.clear();
        m_dialogFileName.clear();
        return;
    }
    // A typed name that is not in the picker changes nothing.
    const int entry = cbDefinition->findText(typed, Qt::MatchFixedString);
    if (entry < 0)
        return;
    const QString name = cbDefinition->itemText(entry);
    std::optional<ImportDefinition> d;
    guarded([&] { d = findDefinition(m_data, name); });
    if (!d)
        return;
    selectEntry(cbList, d->list);
    txtExcelFile->setText(d->dataFolder + d->excelFile);
    m_dialogFolder = d->dataFolder;
    m_dialogFileName = d->excelFile;
    selectEntry(cbSal, d->columns.salutation);
    selectEntry(cbFN, d->columns.firstName);
    selectEntry(cbLN, d->columns.lastName);
    selectEntry(cbEmail, d->columns.email);
}

void TfrmXLImport::deleteDefinition()
{
    const QString name = cbDefinition->currentText();
    std::optional<ImportDefinition> d;
    guarded([&] { d = findDefinition(m_data, name); });
    if (!d) {
        m_services.dialogs.message(QStringLiteral("This definition isn't on file."));
        return;
    }
    if (m_services.dialogs.ask(QStringLiteral("Delete this definition?"), Buttons::YesNoCancel) !=
        Answer::Yes)
        return;
    guarded([&] { lists::deleteDefinition(m_data, name); });
    fillDefinitions();
}

void TfrmXLImport::addResult(const QString& line)
{
    memResults->appendPlainText(line);
}

void TfrmXLImport::showError(const QString& text)
{
    addResult(text);
    m_services.dialogs.showError(text);
}

void TfrmXLImport::guarded(const std::function<void()>& operation)
{
    try {
        operation();
    } catch (const data::DbError& e) {
        m_services.dialogs.showError(e.message());
    }
}

} // namespace bv::lists
