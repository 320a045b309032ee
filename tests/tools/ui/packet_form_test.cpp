#include "tools/ui/packet_form.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QTextEdit>
#include <chrono>
#include <filesystem>
#include <vector>

#include "sim/sim_module.h"
#include "tests/fixtures/qmxsim_process.h"
#include "tests/fixtures/sim_link.h"
#include "tests/fixtures/ui/qt_app.h"

namespace qmx {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The window on a simulated module whose remotes answer at once, on a clock
// that only the test moves.
class PacketFormTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(s.Open()); }

  // Chooses the command, fills the fields and presses Transmit. Returns the
  // frame the module took (its sequence number 0) or nothing.
  std::optional<Bytes> Send(int choice, const char* reg, const char* bank, const char* span, const char* address,
                            const char* value) {
    f.OPCodeComboBox->setCurrentIndex(choice);
    f.RegisterEdit->setText(reg);
    f.BankEdit->setText(bank);
    f.SpanEdit->setText(span);
    f.DeviceAddressComboBox->setEditText(address);
    f.DataEdit->setText(value);
    s.module->ClearReceivedFrames();
    test::Click(f.TransmitButton);
    const auto frames = s.module->ReceivedFrames();
    if (frames.empty()) return std::nullopt;
    Bytes bytes(frames.back().data(), frames.back().data() + frames.back().size);
    if (!Text(f.ReplyTypeRow).isEmpty()) {
      EXPECT_EQ(Text(f.ReplySequenceRow), PacketHexText(bytes[2]));
    }
    bytes[2] = 0;
    return bytes;
  }
  static QString PacketHexText(std::uint8_t v) { return QString::asprintf("0x%02X", v); }
  static QString Text(const TPacketForm::Row& row) { return TPacketForm::Text(row); }
  static QString DataText(const std::optional<std::vector<std::uint8_t>>& bytes) {
    QString out = "0x";
    for (std::uint8_t b : *bytes) out += QString::asprintf("%02X", b);
    return out;
  }

  struct AppFirst {
    AppFirst() { test::QtApp(); }
  } app_;
  test::SimLink s{test::FakeTime{}, {.remoteLatency = std::chrono::milliseconds(0)}};
  TPacketForm f{*s.link, s.prompter};
};

TEST_F(PacketFormTest, StartsWithTheCommandListOnlyAndHidingKeepsTheText) {
  EXPECT_EQ(f.windowTitle(), "Packet Builder");
  for (const auto* r : {&f.NetworkAddressRow, &f.RegisterRow, &f.BankRow, &f.SpanRow, &f.ValueRow})
    EXPECT_TRUE(r->field->isHidden() && r->label->isHidden()) << r->field->objectName().toStdString();
  EXPECT_FALSE(f.OPCodeComboBox->isHidden());
  EXPECT_FALSE(f.TransmitButton->isHidden());
  EXPECT_EQ(Text(f.NetworkAddressRow), "0x0000");
  EXPECT_EQ(Text(f.RawDataRow), "0x0000000000000000");
  EXPECT_EQ(Text(f.RawSpanRow), "0x0000");
  EXPECT_FALSE(f.OPCodeReplyComboBox->isEnabled());
  EXPECT_EQ(f.OPCodeReplyComboBox->count(), 11);

  f.OPCodeComboBox->setCurrentIndex(3);
  f.RegisterEdit->setText("0x1C");
  f.OPCodeComboBox->setCurrentIndex(2);
  EXPECT_TRUE(f.RegisterEdit->isHidden());
  EXPECT_TRUE(f.RawRegisterRow.field->isHidden());
  f.OPCodeComboBox->setCurrentIndex(3);
  EXPECT_FALSE(f.RegisterEdit->isHidden());
  EXPECT_EQ(f.RegisterEdit->text(), "0x1C");
  EXPECT_EQ(f.OPCodeReplyComboBox->currentIndex(), 3);

  // The count kept with "Value" shows once the raw view is looked at.
  f.OPCodeComboBox->setCurrentIndex(5);
  f.DeviceAddressComboBox->setEditText("0x1234");
  f.DataEdit->setText("1 A2");
  f.SendPacket->setCurrentWidget(f.RawPacket);
  EXPECT_EQ(Text(f.RawLengthRow), "0x06");
  EXPECT_EQ(Text(f.RawDataRow), "0x01A2");
  EXPECT_EQ(Text(f.RawNetworkAddressRow), "0x3412");
  EXPECT_FALSE(f.RawNetworkAddressRow.field->isHidden());
}

TEST_F(PacketFormTest, EachCommandSendsItsFrameAndShowsItsReply) {
  auto local = [&](std::uint8_t bank, std::uint8_t reg, std::uint8_t span, int radio = sim::kLocal) {
    return s.module->Registers(radio, bank, reg, span);
  };
  EXPECT_EQ(Send(0, "", "", "", "", "not data "), (Bytes{0xFB, 9, 0, 0x00, 'Q', 'M', 'X', '2', '4', '0', '0'}));
  EXPECT_EQ(Text(f.ReplyTypeRow), "0x10");
  EXPECT_EQ(f.RichEdit1->toPlainText(), "Entered Protocol Mode Successfully.");
  EXPECT_EQ(Text(f.ReplyStartRow), "0xFB");
  // The reply shows the number the command used; the raw view the one the
  // next Transmit takes.
  EXPECT_EQ(Text(f.ReplySequenceRow), PacketHexText(s.link->sequence.Current()));
  EXPECT_EQ(Text(f.RawSequenceRow), PacketHexText(static_cast<std::uint8_t>(s.link->sequence.Current() + 1)));

  EXPECT_EQ(Send(1, "", "", "", "", ""), (Bytes{0xFB, 2, 0, 0x01}));
  EXPECT_EQ(f.RichEdit1->toPlainText(), "Exited Protocol Mode Successfully.");
  ASSERT_TRUE(Send(0, "", "", "", "", ""));

  EXPECT_EQ(Send(3, "0", "2", "3", "", "zz"), (Bytes{0xFB, 5, 0, 0x03, 0x00, 0x02, 0x03}));
  EXPECT_EQ(Text(f.ReplyLengthRow), "0x08");
  EXPECT_EQ(Text(f.ReplyTypeRow), "0x13");
  EXPECT_EQ(Text(f.ReplyBankRow), "0x02");
  EXPECT_EQ(Text(f.ReplySpanRow), "0x03");
  EXPECT_EQ(Text(f.ReplyDataRow), DataText(local(2, 0, 3)));
  const QString mac = DataText(local(2, 0, 3)).mid(2);
  EXPECT_EQ(f.RichEdit1->toPlainText(), "Get Register Successful.\nData={" + mac.left(2) + " " + mac.mid(2, 2) + " " +
                                            mac.mid(4) + "}");

  EXPECT_EQ(Send(4, "0x1C", "0", "2", "", "1 A2"), (Bytes{0xFB, 7, 0, 0x04, 0x1C, 0x00, 0x02, 0x01, 0xA2}));
  EXPECT_EQ(local(0, 0x1C, 2), (Bytes{0x01, 0xA2}));
  EXPECT_EQ(Text(f.ReplyLengthRow), "0x02");
  EXPECT_EQ(Text(f.ReplySpanRow), "0x03");  // Bank and Span keep the last reply's
  EXPECT_EQ(f.RichEdit1->toPlainText(), "Set Register Successful.");

  EXPECT_EQ(Send(5, "", "", "", "0x0001", "1 A2"), (Bytes{0xFB, 6, 0, 0x05, 0x01, 0x00, 0x01, 0xA2}));
  EXPECT_EQ(Text(f.ReplyTxStatusRow), "0x00");
  EXPECT_NE(Text(f.ReplyLqiRow), "");
  EXPECT_EQ(f.RichEdit1->toPlainText(), "TX Data Successful.\nAcknowledgement received.");

  EXPECT_EQ(Send(6, "0x1C", "0", "2", "2", ""), (Bytes{0xFB, 7, 0, 0x0A, 0x02, 0x00, 0x1C, 0x00, 0x02}));
  EXPECT_EQ(Text(f.ReplyNetworkAddressRow), "0x0200");
  EXPECT_EQ(Text(f.ReplyTypeRow), "0x1A");
  EXPECT_EQ(Text(f.ReplyDataRow), DataText(local(0, 0x1C, 2, 0x0002)));

  EXPECT_EQ(Send(7, "0x1C", "0", "1", "0x0002", "5A"),
            (Bytes{0xFB, 8, 0, 0x0B, 0x02, 0x00, 0x1C, 0x00, 0x01, 0x5A}));
  EXPECT_EQ(local(0, 0x1C, 1, 0x0002), Bytes{0x5A});
  EXPECT_EQ(Text(f.ReplyLengthRow), "0x06");
  EXPECT_EQ(f.RichEdit1->toPlainText(), "Set Remote Register Successful.");


  // A picture of the window with a reply shown, for review.
  f.show();
  f.ReadPacket->setCurrentWidget(f.RawPacketReply);
  ASSERT_TRUE(Send(6, "0x1C", "0", "2", "0x0002", ""));
  f.SendPacket->setCurrentWidget(f.RawPacket);
  const auto dir = std::filesystem::path(test::BuildDir()) / "screenshots";
  std::filesystem::create_directories(dir);
  EXPECT_TRUE(f.grab().save(QString::fromStdString((dir / "packet_builder.png").string()), "PNG"));
  f.SendPacket->setCurrentWidget(f.UserDefinedPacket);
  f.ReadPacket->setCurrentWidget(f.PacketReply);
  EXPECT_TRUE(f.grab().save(QString::fromStdString((dir / "packet_builder_log.png").string()), "PNG"));
  f.hide();

  EXPECT_EQ(Send(2, "", "", "", "", ""), (Bytes{0xFB, 2, 0, 0x02}));
  EXPECT_EQ(f.RichEdit1->toPlainText(), "Reset Radio Successfully.");
  EXPECT_EQ(s.prompter.Count(), 0u);
}

// The raw view is the frame Transmit writes, also when Span and the bytes
// typed differ (the difference pointed out beside the fields); a Span that
// no frame carries is refused before a sequence number is used.
TEST_F(PacketFormTest, RawViewIsTheFrameSentWhenSpanAndValueDiffer) {
  ASSERT_TRUE(Send(0, "", "", "", "", ""));
  const auto* note = f.findChild<QLabel*>("DataNoteLabel");
  auto noted = [note] { return note && !note->text().isEmpty(); };
  const struct {
    int choice;
    const char* span;
    const char* value;
    bool noted;
  } cases[] = {{4, "2", "1 2 3 4 5", true}, {4, "5", "1", true}, {7, "1", "AA BB", true}, {4, "2", "1 A2", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    f.OPCodeComboBox->setCurrentIndex(c.choice);
    f.RegisterEdit->setText("0x1C");
    f.BankEdit->setText("0");
    f.SpanEdit->setText(c.span);
    f.DeviceAddressComboBox->setEditText("0x0002");
    f.DataEdit->setText(c.value);
    EXPECT_EQ(noted(), c.noted);
    f.SendPacket->setCurrentWidget(f.RawPacket);
    QString raw;
    for (const auto* r : {&f.RawStartRow, &f.RawLengthRow, &f.RawSequenceRow, &f.RawTypeRow, &f.RawNetworkAddressRow,
                          &f.RawRegisterRow, &f.RawBankRow, &f.RawSpanRow, &f.RawDataRow})
      if (!r->field->isHidden()) raw += r == &f.RawSequenceRow ? "00" : Text(*r).mid(2);
    f.SendPacket->setCurrentWidget(f.UserDefinedPacket);
    const auto sent = Send(c.choice, "0x1C", "0", c.span, "0x0002", c.value);
    ASSERT_TRUE(sent);
    EXPECT_EQ(raw.toStdString(), DataText(sent).mid(2).toStdString());
  }

  const std::uint8_t before = s.link->sequence.Current();
  EXPECT_EQ(Send(4, "0", "0", "200", "", "1"), std::nullopt);
  EXPECT_EQ(s.prompter.All().back(),
            (test::Shown{"Span too large.  This packet carries at most 95 data bytes.", "Span Too Large", false}));
  EXPECT_TRUE(noted());
  EXPECT_EQ(s.link->sequence.Current(), before);
}

// The raw view's sequence number is the one the frame Transmit writes
// carries, before and after a send, also where the counter wraps to 0.
TEST_F(PacketFormTest, RawSequenceNumberIsTheOneTheFrameCarries) {
  ASSERT_TRUE(Send(0, "", "", "", "", ""));
  f.OPCodeComboBox->setCurrentIndex(3);
  for (const auto& [last, next] : {std::pair{0x15, 0x16}, {0x7F, 0x00}}) {
    SCOPED_TRACE(last);
    s.link->sequence.Reset(static_cast<std::uint8_t>(last));
    f.SendPacket->setCurrentWidget(f.RawPacket);
    EXPECT_EQ(Text(f.RawSequenceRow), PacketHexText(static_cast<std::uint8_t>(next)));
    f.SendPacket->setCurrentWidget(f.UserDefinedPacket);
    s.module->ClearReceivedFrames();
    f.RegisterEdit->setText("0");
    f.BankEdit->setText("2");
    f.SpanEdit->setText("1");
    test::Click(f.TransmitButton);
    ASSERT_EQ(s.module->ReceivedFrames().size(), 1u);
    EXPECT_EQ(s.module->ReceivedFrames().back().sequence(), next);
    EXPECT_EQ(Text(f.ReplySequenceRow), PacketHexText(static_cast<std::uint8_t>(next)));
    EXPECT_EQ(Text(f.RawSequenceRow), PacketHexText(static_cast<std::uint8_t>(next + 1)));
  }
}

TEST_F(PacketFormTest, RefusedOrFailedSendsClearTheReply) {
  ASSERT_TRUE(Send(0, "", "", "", "", ""));
  // Refused: nothing sent, the reply cleared.
  EXPECT_EQ(Send(4, "0", "0", "1", "", "1 2 Z"), std::nullopt);
  EXPECT_EQ(s.prompter.All().back(),
            (test::Shown{"Invalid data.  Please check data and try again.", "Invalid Data", false}));
  EXPECT_EQ(Text(f.ReplyTypeRow), "");
  EXPECT_EQ(f.RichEdit1->toPlainText(), "");

  s.module->SetFault(sim::Fault::DropReply, 4);  // the first send and its three retries
  s.clock.ExpireWaits();
  ASSERT_TRUE(Send(3, "0", "2", "1", "", ""));
  EXPECT_EQ(s.prompter.All().back(), (test::Shown{"Could not get data.  Please try again.", "GetField Error", false}));
  EXPECT_EQ(Text(f.ReplySequenceRow), "");
}

}  // namespace
}  // namespace qmx
