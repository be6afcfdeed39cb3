#include "DialogConfirmer.h"

#include "ConfirmationSheet.h"

void DialogConfirmer::confirm(QWidget* parent, const ConfirmationRequest& request, std::function<void(bool)> done)
{
    auto* sheet = new ConfirmationSheet(request, parent);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(sheet, &QDialog::finished, sheet,
                     [done = std::move(done)](int result) { done(result == QDialog::Accepted); });
    sheet->open();
}
