#include "BriskoTest.h"
#include "ConfirmationSheet.h"
#include "DialogConfirmer.h"
#include "DialogFolderChooser.h"
#include "ProminentButton.h"
#include "Theme.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

// The window's own confirmation sheet and folder chooser, on screen.
class tst_WindowDialogs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_window = std::make_unique<QWidget>();
        m_window->resize(800, 600);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    void keysAnswerTheSheet_data()
    {
        QTest::addColumn<bool>("destructive");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("confirmed");

        QTest::newRow("Escape cancels") << false << int(Qt::Key_Escape) << false;
        QTest::newRow("Escape cancels a destructive action") << true << int(Qt::Key_Escape) << false;
        QTest::newRow("Return confirms") << false << int(Qt::Key_Return) << true;
        QTest::newRow("Return never confirms a destructive action") << true << int(Qt::Key_Return) << false;
    }

    void keysAnswerTheSheet()
    {
        QFETCH(bool, destructive);
        QFETCH(int, key);
        QFETCH(bool, confirmed);

        DialogConfirmer confirmer;
        QList<bool> answers;
        confirmer.confirm(m_window.get(), request(destructive), [&answers](bool yes) { answers.append(yes); });
        auto* sheet = m_window->findChild<ConfirmationSheet*>();
        QVERIFY(sheet);
        QVERIFY(QTest::qWaitForWindowExposed(sheet));
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QTest::keyClick(sheet->focusWidget() ? sheet->focusWidget() : sheet, Qt::Key(key));
        QTRY_COMPARE(answers, QList<bool>{confirmed});
    }

    void destructiveActionInTheDangerColourAndLongTextFits()
    {
        const Theme theme = Theme::of(m_window.get());
        ConfirmationSheet destructive(request(true), m_window.get());
        ConfirmationSheet plain(request(false), m_window.get());
        QVERIFY(destructive.confirmButton()->isDestructive());
        QVERIFY(!plain.confirmButton()->isDestructive());

        destructive.show();
        QVERIFY(QTest::qWaitForWindowExposed(&destructive));
        const QImage image = destructive.confirmButton()->grab().toImage();
        const QColor centreLeft = image.pixelColor(4 * int(image.devicePixelRatio()), image.height() / 2);
        QCOMPARE(centreLeft.rgb(), theme.dangerFill().rgb());
        QVERIFY(destructive.cancelButton()->isDefault());
        QVERIFY(plain.confirmButton()->isDefault());

        // A long message widens the sheet only so far and is shown whole: the
        // label is as tall as its wrapped text needs.
        ConfirmationRequest move = request(false);
        move.message = QStringLiteral("Будет перенесено 220,2\u00a0МБ в: /media/user/Архивный диск с длинным именем/"
                                      "Архив/Перенесённое с системного диска/2026");
        ConfirmationSheet sheet(move, m_window.get());
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        QVERIFY(sheet.width() <= ConfirmationSheet::maximumWidth);
        const QLabel* message = sheet.messageLabel();
        QVERIFY(message->height() >= message->heightForWidth(message->width()));
        QVERIFY(sheet.geometry().contains(sheet.confirmButton()->geometry().bottomRight() + sheet.pos()));
    }

    void folderChooser_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::newRow("chosen") << true;
        QTest::newRow("cancelled") << false;
    }

    void folderChooser()
    {
        QFETCH(bool, accept);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString start = root.filePath(QStringLiteral("Диски"));
        const QString target = start + QStringLiteral("/Архив");
        QVERIFY(QDir().mkpath(target));

        QString label;
        QString shownFolder;
        whenModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (!dialog) {
                modal->close();
                return;
            }
            label = dialog->labelText(QFileDialog::Accept);
            shownFolder = dialog->directory().absolutePath();
            if (!accept) {
                dialog->reject();
                return;
            }
            dialog->selectFile(target);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        DialogFolderChooser chooser;
        const std::optional<FilePath> chosen = chooser.chooseFolder(FilePath::fromString(start), QStringLiteral("Выбрать"));
        QCOMPARE(label, QStringLiteral("Выбрать"));
        QCOMPARE(shownFolder, start);
        QCOMPARE(chosen.has_value(), accept);
        if (accept)
            QCOMPARE(chosen->toString(), target);
    }

private:
    // Runs act on the next modal dialog once it is up, looking again at
    // every turn of the event loop.
    static void whenModal(std::function<void(QWidget*)> act)
    {
        QTimer::singleShot(0, qApp, [act = std::move(act)]() mutable {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal->isVisible())
                act(modal);
            else
                whenModal(std::move(act));
        });
    }
    static ConfirmationRequest request(bool destructive)
    {
        ConfirmationRequest r;
        r.title = QStringLiteral("Удалить в Корзину?");
        r.message = QStringLiteral("Выбранное (220,2\u00a0МБ) будет перемещено в Корзину.");
        r.confirmText = QStringLiteral("Удалить 3 элемента");
        r.destructive = destructive;
        return r;
    }

    std::unique_ptr<QWidget> m_window;
};

BRISKO_TEST(tst_WindowDialogs)
#include "tst_WindowDialogs.moc"
