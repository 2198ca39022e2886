#include "ui/OpenDialog.h"

#include <QFileDialog>
#include <QStringList>
#include <utility>

namespace {

TOpenDialog::Answer& TestingAnswer()
{
    static TOpenDialog::Answer answer;
    return answer;
}

// "Cell files|*.txt|All|*" becomes "Cell files (*.txt);;All (*)"; a filter
// without a bar is a list of patterns as it stands.
QString QtNameFilters(const QString& filter)
{
    if (!filter.contains('|'))
        return filter;
    const QStringList parts = filter.split('|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        filters << parts[i] + " (" + parts[i + 1] + ")";
    return filters.join(";;");
}

}  // namespace

TOpenDialog::TOpenDialog(QWidget* owner)
    : QObject(owner), owner_(owner)
{
}

bool TOpenDialog::Execute()
{
    if (TestingAnswer())
        return TestingAnswer()(*this);

    QFileDialog dialog(owner_, QString(), InitialDir, QtNameFilters(Filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (!FileName.isEmpty())
        dialog.selectFile(FileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;  // Cancel keeps the name chosen last time
    FileName = dialog.selectedFiles().constFirst();
    return true;
}

void TOpenDialog::SetAnswerForTesting(Answer answer)
{
    TestingAnswer() = std::move(answer);
}
