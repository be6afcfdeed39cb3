#include "DialogConfirmer.h"

#include <QMessageBox>
#include <QPushButton>

void DialogConfirmer::confirm(QWidget* parent, const ConfirmationRequest& request, std::function<void(bool)> done)
{
    auto* box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(request.destructive ? QMessageBox::Warning : QMessageBox::Question);
    box->setWindowTitle(request.title);
    box->setText(request.title);
    box->setInformativeText(request.message);
    QPushButton* confirmButton = box->addButton(request.confirmText,
                                                request.destructive ? QMessageBox::DestructiveRole
                                                                    : QMessageBox::AcceptRole);
    QPushButton* cancelButton = box->addButton(request.cancelText, QMessageBox::RejectRole);
    box->setDefaultButton(request.destructive ? cancelButton : confirmButton);
    box->setEscapeButton(cancelButton);
    QObject::connect(box, &QMessageBox::finished, box, [box, confirmButton, done = std::move(done)] {
        done(box->clickedButton() == confirmButton);
    });
    box->open();
}
