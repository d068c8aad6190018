// The slave address field: the address follows the text while the operator types and is
// pulled into 1..247 when the field is left.
#include "ShellTestSupport.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

class SlaveAddressField : public TShellTest {
protected:
    void SetUp() override {
        TShellTest::SetUp();
        WriteFile("Bootload.Ini", "[Ports]\nCOM1=/nonexistent/tty\n");
        StartForm();
        Window->SlvAdd_GroupBox->show();
        Window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Window.get(), 5000));
        Editor = Window->SpinEdit1->findChild<QLineEdit*>();
        ASSERT_NE(Editor, nullptr);
    }
    void Type(const QString& Text) {
        Window->SpinEdit1->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([this] { return Window->SpinEdit1->hasFocus(); }, 5000));
        Editor->selectAll();
        QTest::keyClick(Editor, Qt::Key_Backspace);
        QTest::keyClicks(Editor, Text);
    }
    void LeaveField() {
        Window->ListBox1->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([this] { return !Window->SpinEdit1->hasFocus(); }, 5000));
    }
    QLineEdit* Editor = nullptr;
};

TEST_F(SlaveAddressField, AddressFollowsTheTextWhileTyping) {
    Type("3");
    EXPECT_EQ(Window->SlaveAddress, 3);
    QTest::keyClicks(Editor, "0");
    EXPECT_EQ(Window->SlaveAddress, 30);
    QTest::keyClicks(Editor, "0");
    EXPECT_EQ(Window->SpinEdit1->text(), "300") << "three digits may be typed";
    EXPECT_EQ(Window->SlaveAddress, 300);
    QTest::keyClicks(Editor, "5");
    EXPECT_EQ(Window->SpinEdit1->text(), "300") << "no fourth digit";
    QTest::keyClick(Editor, Qt::Key_Backspace);
    QTest::keyClicks(Editor, "1");
    EXPECT_EQ(Window->SlaveAddress, 301);
}

TEST_F(SlaveAddressField, LeavingTheFieldPullsTheValueIntoRange) {
    Type("300");
    LeaveField();
    EXPECT_EQ(Window->SpinEdit1->text(), "247");
    EXPECT_EQ(Window->SlaveAddress, 247);

    Type("0");
    EXPECT_EQ(Window->SlaveAddress, 0);
    LeaveField();
    EXPECT_EQ(Window->SpinEdit1->text(), "1");
    EXPECT_EQ(Window->SlaveAddress, 1);

    Type("42");
    LeaveField();
    EXPECT_EQ(Window->SpinEdit1->text(), "42");
    EXPECT_EQ(Window->SlaveAddress, 42);
}

TEST_F(SlaveAddressField, EmptyFieldReadsAs1) {
    Type("55");
    Type("");
    EXPECT_EQ(Window->SpinEdit1->text(), "");
    EXPECT_EQ(Window->SlaveAddress, 1);
    LeaveField();
    EXPECT_EQ(Window->SpinEdit1->text(), "1");
    EXPECT_EQ(Window->SlaveAddress, 1);
}

TEST_F(SlaveAddressField, OnlyDigitsAreTaken) {
    Type("12");
    QTest::keyClicks(Editor, "a-+ .");
    EXPECT_EQ(Window->SpinEdit1->text(), "12");
    EXPECT_EQ(Window->SlaveAddress, 12);
}

TEST_F(SlaveAddressField, StepsStayInRange) {
    Type("247");
    LeaveField();
    Window->SpinEdit1->stepUp();
    EXPECT_EQ(Window->SlaveAddress, 247);
    Window->SpinEdit1->setValue(1);
    Window->SpinEdit1->stepDown();
    EXPECT_EQ(Window->SlaveAddress, 1);
    Window->SpinEdit1->stepUp();
    EXPECT_EQ(Window->SlaveAddress, 2);
}

// The run must see an address in range even when Start is the first thing clicked.
TEST_F(SlaveAddressField, StartTakesTheFocusAndTheRunSeesAClampedAddress) {
    Type("300");
    ASSERT_EQ(Window->SlaveAddress, 300);
    QTest::mouseClick(Window->Button6, Qt::LeftButton);
    EXPECT_EQ(Window->SpinEdit1->text(), "247");
    EXPECT_EQ(Window->SlaveAddress, 247);
}
