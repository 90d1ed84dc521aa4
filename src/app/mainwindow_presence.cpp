// Presence in the main window: the raw list, the network list in the address box, the messages
// of the other copies, and the address box's own Enter key.

#include "app/mainwindow.h"

#include "ui_mainwindow.h"

#include "presence/mailslot.h"
#include "presence/networklist.h"

namespace app {

void TForm1::sendPresence(const QString &text)
{
    m_mailSlot->Send(text);
}

QStringList TForm1::rawList() const
{
    QStringList entries;
    for (int i = 0; i < ui->ListBox1->count(); ++i)
        entries.append(ui->ListBox1->item(i)->text());
    return entries;
}

void TForm1::setRawList(const QStringList &entries)
{
    ui->ListBox1->clear();
    ui->ListBox1->addItems(entries);
}

void TForm1::AnnounceSelf()
{
    QStringList raw = rawList();
    presence::AnnounceSelf(raw, m_environment.localIPs, [this](const QString &text) { sendPresence(text); });
    setRawList(raw);
}

void TForm1::RefreshNetworkList1Click()
{
    sendPresence(presence::kResend);
    AnnounceSelf();
}

void TForm1::btnRefreshClick()
{
    click(ui->RefreshNetworkList1);
}

void TForm1::MailSlot1NewMessage(QObject *, const QString &Computer, const QString &, const QString &Text)
{
    QStringList raw = rawList();
    const presence::MessageKind kind = presence::HandleNewMessage(
        raw, Computer, Text, m_environment.localIPs, [this](const QString &text) { sendPresence(text); });
    setRawList(raw);
    // Acts only while this copy is in a call; it then broadcasts "Stop" itself.
    if (kind == presence::MessageKind::Stop)
        click(ui->StopConnection);
    RebuildNetworkList();
}

// The list replaces whatever was typed: the first entry goes into the box's text.
void TForm1::RebuildNetworkList()
{
    const QStringList items = presence::RebuildNetworkList(rawList());
    ui->ComboBox1->clear();
    ui->ComboBox1->addItems(items);
    if (!items.isEmpty()) {
        ui->ComboBox1->setCurrentIndex(0);
        ui->ComboBox1->setEditText(items.first());
    }
}

// Enter adds the typed text to the list in sorted order (duplicates too) and empties the box.
bool TForm1::ComboBox1KeyPress(QChar key)
{
    if (key != QChar(13))
        return false;
    const QString text = ui->ComboBox1->currentText();
    int at = 0;
    while (at < ui->ComboBox1->count() && presence::compareEntries(ui->ComboBox1->itemText(at), text) <= 0)
        ++at;
    ui->ComboBox1->insertItem(at, text);
    ui->ComboBox1->setEditText(QString());
    return true;
}

} // namespace app
