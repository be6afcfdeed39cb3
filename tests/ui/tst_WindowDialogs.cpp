#include "BriskoTest.h"
#include "ConfirmationSheet.h"
#include "DialogConfirmer.h"
#include "DialogFolderChooser.h"
#include "IconSet.h"
#include "ProminentButton.h"
#include "Theme.h"

#include <QApplication>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

namespace {
// The clearly visible pixels, and how many of them do not carry the tint.
std::pair<int, int> ink(const QPixmap& pixmap, const QColor& tint)
{
    int opaque = 0;
    int stray = 0;
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() < 200)
                continue;
            ++opaque;
            stray += qAbs(pixel.red() - tint.red()) < 8 && qAbs(pixel.green() - tint.green()) < 8
                    && qAbs(pixel.blue() - tint.blue()) < 8 ? 0 : 1;
        }
    }
    return {opaque, stray};
}
} // namespace

// The window's own confirmation sheet and folder chooser, on screen; the
// palettes' contrast (text 4.5:1, graphics 3:1) and the symbols and marks
// through the resource and SVG pipeline, in the colours asked for.
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

    void ratioFormula()
    {
        QCOMPARE(Theme::contrastRatio(Qt::black, Qt::white), 21.0);
        QCOMPARE(Theme::contrastRatio(QColor(0x12, 0x34, 0x56), QColor(0x12, 0x34, 0x56)), 1.0);
        // The usual reference: #767676 is the lightest grey that passes on white.
        QVERIFY(Theme::contrastRatio(QColor(0x76, 0x76, 0x76), Qt::white) >= 4.5);
        QVERIFY(Theme::contrastRatio(QColor(0x77, 0x77, 0x77), Qt::white) < 4.5);
        QCOMPARE(Theme::over(QColor(0, 0, 0, 128), Qt::white).red(), 127);
    }

    void pairs_data()
    {
        QTest::addColumn<QColor>("foreground");
        QTest::addColumn<QColor>("surface");
        QTest::addColumn<double>("minimum");

        for (const bool dark : {false, true}) {
            const Theme t(dark ? Theme::darkPalette() : Theme::lightPalette());
            const QPalette& p = t.palette();
            const QColor currentItem = Theme::over(t.selectionBackground(), t.sidebarBackground());
            const QList<std::pair<const char*, QColor>> surfaces = {
                {"window", t.windowBackground()},
                {"card", t.cardBackground()},
                {"alternate row", p.color(QPalette::AlternateBase)},
                {"sidebar", t.sidebarBackground()},
                {"button", p.color(QPalette::Button)},
                {"accent banner", t.tintedCard(t.accent())},
                {"warning banner", t.tintedCard(t.warning())},
            };
            const auto add = [&](const char* role, const QColor& colour, const QList<QColor>& on, double minimum) {
                for (const auto& [name, surface] : surfaces) {
                    if (!on.contains(surface))
                        continue;
                    QTest::addRow("%s %s on %s", dark ? "dark" : "light", role, name) << colour << surface << minimum;
                }
            };
            QList<QColor> all;
            for (const auto& surface : surfaces)
                all.append(surface.second);
            const QList<QColor> pages = {t.windowBackground(), t.cardBackground(), p.color(QPalette::AlternateBase)};

            add("text", t.text(), all, 4.5);
            add("secondary text", t.secondaryText(), all, 4.5);
            add("disabled text", t.disabledText(), {t.windowBackground(), t.cardBackground(), p.color(QPalette::Button)},
                4.5);
            add("link", t.accent(), pages + QList<QColor>{t.sidebarBackground()}, 4.5);
            add("danger text", t.danger(), pages, 4.5);
            add("success", t.success(), {t.windowBackground(), t.cardBackground()}, 3.0);
            add("warning", t.warning(), {t.windowBackground(), t.cardBackground()}, 3.0);
            add("checkbox border", t.controlBorder(), pages, 3.0);
            add("focus ring", t.focusRing(), pages + QList<QColor>{t.sidebarBackground()}, 3.0);
            add("ticked box", t.accent(), pages, 3.0);

            const char* mode = dark ? "dark" : "light";
            QTest::addRow("%s text on the current sidebar item", mode) << t.text() << currentItem << 4.5;
            QTest::addRow("%s text on a selected row", mode) << t.accentText() << t.accentFill() << 4.5;
            QTest::addRow("%s text on a destructive button", mode) << t.accentText() << t.dangerFill() << 4.5;
            QTest::addRow("%s tick on a ticked box", mode) << t.markOn(t.accent()) << t.accent() << 3.0;
            QTest::addRow("%s tooltip", mode) << p.color(QPalette::ToolTipText) << p.color(QPalette::ToolTipBase) << 4.5;
        }
    }

    void pairs()
    {
        QFETCH(QColor, foreground);
        QFETCH(QColor, surface);
        QFETCH(double, minimum);
        const double ratio = Theme::contrastRatio(foreground, surface);
        QVERIFY2(ratio >= minimum, qPrintable(QStringLiteral("%1 on %2: %3:1")
                                                  .arg(foreground.name(), surface.name())
                                                  .arg(ratio, 0, 'f', 2)));
    }

    void everyMappedSymbolRendersInItsTint_data()
    {
        QTest::addColumn<QString>("symbol");
        const QStringList names = IconSet::symbolNames();
        // The screens name far more than a handful; an empty table means the pipeline lost it.
        QVERIFY(names.size() >= 30);
        for (const QString& name : names)
            QTest::newRow(name.toUtf8().constData()) << name;
    }

    void everyMappedSymbolRendersInItsTint()
    {
        QFETCH(QString, symbol);
        const QColor tint(0x1f, 0x6f, 0xeb);
        for (qreal ratio : {1.0, 2.0}) {
            const QPixmap pixmap = IconSet::pixmap(symbol, tint, 24, ratio);
            QCOMPARE(pixmap.size(), QSize(24, 24) * ratio);
            const auto [opaque, stray] = ink(pixmap, tint);
            QVERIFY2(opaque > 5 * ratio * ratio, qPrintable(QString::number(opaque)));
            QCOMPARE(stray, 0);
        }
    }

    void iconsCarryNormalAndDisabledTintsUnknownOnesNothing()
    {
        const QColor normal(Qt::darkGreen);
        const QColor disabled(0xa1, 0xa1, 0xa6);
        const QIcon icon = IconSet::icon(QStringLiteral("trash.fill"), normal, disabled);
        for (const auto& [mode, tint] : {std::pair{QIcon::Normal, normal}, std::pair{QIcon::Disabled, disabled}}) {
            const auto [opaque, stray] = ink(icon.pixmap(QSize(20, 20), 1.0, mode), tint);
            QVERIFY(opaque > 0);
            QCOMPARE(stray, 0);
        }
        const QString unknown = QStringLiteral("нет.такого.символа");
        QVERIFY(IconSet::resourcePath(unknown).isEmpty());
        QVERIFY(IconSet::pixmap(unknown, Qt::black, 16).isNull());
        QVERIFY(IconSet::icon(unknown, Qt::black).isNull());
        QVERIFY(IconSet::renderSvg(QByteArrayLiteral("<svg broken"), Qt::black, QSize(16, 16), 1.0).isNull());
    }

    void makersMarksRender()
    {
        const QImage mark = IconSet::korvaneMark(72, 2.0).toImage();
        QCOMPARE(mark.size(), QSize(144, 144));
        // A filled badge: opaque in the middle, transparent beyond its rounded corners.
        QCOMPARE(mark.pixelColor(72, 72).alpha(), 255);
        QCOMPARE(mark.pixelColor(1, 1).alpha(), 0);

        // The word mark follows the text colour; the badge beside it keeps its own colours.
        const QColor textColour(0xf2, 0xf2, 0xf7);
        const QPixmap logo = IconSet::korvaneLogo(QSize(156, 32), textColour);
        const auto [opaque, stray] = ink(logo.copy(QRect(40, 0, 116, 32)), textColour);
        QVERIFY(opaque > 50);
        QCOMPARE(stray, 0);

        // Views that load an SVG as an image (QIcon, QImage) need the plugin, not only the library.
        QVERIFY(!QImage(QString::fromLatin1(IconSet::markResource)).isNull());
        const QImage appIcon = QImage(QStringLiteral(":/brand/BriskoVella.svg")).scaled(64, 64);
        QCOMPARE(appIcon.pixelColor(32, 32).alpha(), 255);
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
