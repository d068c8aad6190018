// TMainForm: the program's one window. It owns the serial component, the firmware image
// and its identity, the slave address, the log list and the state the upgrade carries
// from its first step to its last. Its operations are defined across the files of
// shell/ (start-up, settings, image, dialogs) and upgrade/ (bootloader and Modbus stages,
// the upgrade sequence).
#pragma once

#include "firmware/ImageFile.h"
#include "firmware/ImageSelection.h"
#include "serial/PortDiscovery.h"
#include "serial/PortMap.h"

#include <QEvent>
#include <QMainWindow>

#include <array>
#include <cstdint>
#include <vector>

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QSpinBox;
class QStatusBar;
class TAboutBox;
class TCommSelFrm;
class TKestComms;
struct TPortListing;

// The private message that chains the upgrade steps; the step number travels with it.
constexpr QEvent::Type WM_UPGRADE_STEP = static_cast<QEvent::Type>(0x8190);

class TUpgradeStepEvent : public QEvent {
public:
    explicit TUpgradeStepEvent(int StepNumber) : QEvent(WM_UPGRADE_STEP), Step(StepNumber) {}
    const int Step;
};

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // Builds the controls and menus only; start-up is FormCreate, which the main block
    // calls right after.
    explicit TMainForm(QWidget* Parent = nullptr);
    ~TMainForm() override;

    // ---- Controls, named as in the reference layout ----
    QFrame* Bevel1 = nullptr;
    QListWidget* ListBox1 = nullptr;
    QPushButton* Button6 = nullptr; // "Start"
    QPushButton* Button1 = nullptr; // "Close"
    QGroupBox* SlvAdd_GroupBox = nullptr;
    QSpinBox* SpinEdit1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanel0 = nullptr; // " Port: COM<n>"
    QLabel* StatusPanel1 = nullptr;
    QMenu* File1 = nullptr;
    QAction* LoadFile1 = nullptr;
    QAction* CloseConnection1 = nullptr;
    QAction* N1 = nullptr;
    QAction* Exit1 = nullptr;
    QMenu* Options1 = nullptr;
    QAction* CommsPort1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* About1 = nullptr;

    // The two modal windows; made hidden at start-up by the main block (or on first use).
    TCommSelFrm* CommSelFrm = nullptr;
    TAboutBox* AboutBox = nullptr;

    // ---- Shell state ----
    QString SettingsDir; // working directory at start-up, with a trailing '/'
    TKestComms* Comms = nullptr;
    int32_t CommsPortNumber = 1;
    int32_t SlaveAddress = 1;

    // ---- Image and identity ----
    std::array<uint8_t, 65536> ImageBuffer{};
    std::array<uint8_t, 512> BlockPresent{};
    // How the image came (a raw image, or a HEX file), and every address its file gave a
    // byte for (a raw image: the bytes from 0 it gave).
    TImageFormat ImageFormat = TImageFormat::Raw;
    std::vector<TAddressRange> ImageGiven;
    uint16_t ProcessorNumber = 0;
    uint16_t ModelNumber = 0;
    uint16_t ExpectedModelNumber = 0;
    uint16_t FirmwareVersion = 0;
    uint32_t LastProgramAddress = 0;
    int32_t CommandPause = -1;

    // ---- Modbus stage state, from the first step of a run to its last ----
    uint16_t UnitModelNumber = 0;
    uint16_t UnitFirmwareVersion = 0;
    std::array<std::array<uint16_t, 31>, 3> SettingsBackup{};

    // ---- Start-up and main window ----
    void FormCreate();
    void LoadSettings();
    // False (after telling the operator) when the file cannot be written.
    bool SaveSettings();
    void OpenCommsPort();
    // Appends a line, scrolls to it and selects it.
    void AddLogLine(QListWidget* List, const QString& Text);
    // Rewrites the last line in place (progress and outcomes).
    void ReplaceLastLogLine(const QString& Text);
    // Shows Line followed by Done x 100 / Total and "%" in the last line once the events
    // in hand have been handled: during the wait for the reply to the next request, never
    // between a reply and that request. Only the latest such line is shown; any other
    // change to the log shows it first.
    void ShowProgressSoon(const QString& Line, uint32_t Done, uint32_t Total);
    // Appends without scrolling or selecting (the Load File command's line).
    void AppendPlainLogLine(const QString& Text);
    void ClearLogList();
    // InformativeText: the box's second text, the reason and what to do (may be empty).
    int SoundMessageDlg(const QString& Text, TMsgDlgType DlgType, int Buttons, int HelpCtx,
                        const QString& InformativeText = QString());
    void SpinEdit1Change();
    void Button1Click();
    void Exit1Click();
    void FormClose();

    // ---- Image and identity ----
    uint16_t ReadResourceNumber(const QString& Name);
    void SetProgramLimit();
    void LoadEmbeddedImage();
    // False (after telling the operator) when the file cannot be read, or is a HEX file
    // that cannot be used: the image is then unchanged.
    bool LoadImageFile(const QString& Path);
    // What an update sends of the image with the program range as it stands.
    TImageSelection ImageSelection() const;
    void LoadFile1Click();
    void ApplyProductIdentity(); // the identity steps of start-up

    // ---- Dialogs ----
    void CommsPort1Click();
    void About1Click();

    // ---- Ports found ----
    // Lists the ports there now and gives each new adapter the lowest free COM number
    // from COM3 up, recorded in [Ports] of the settings file (or, when the file cannot be
    // written, for this run in SessionPorts, which the component is given too).
    void NumberNewPorts();
    // For the port dialog: what each of COM1..COM32 opens now, and whether it is there.
    QList<TPortListing> PortListings() const;
    // The status panel's tool tip: the device of the open port; empty when none is open.
    QString OpenPortToolTip() const;
    QList<TPresentPort> FoundPorts; // as NumberNewPorts last listed them
    TSessionPortMap SessionPorts;

    // ---- Bootloader exchange and commands ----
    int32_t BootTransaction(TKestComms* Port, uint8_t Command, uint8_t Count, uint8_t PayloadLength,
                            const uint8_t* Payload, uint16_t TimeOut, uint8_t* Reply);
    int32_t GetBootloaderInfo();
    // Any value from FirstNonModel on means the model-number read got no valid reply.
    static constexpr uint32_t FirstNonModel = 0x10000;
    uint32_t GetModelNumber();
    bool EraseProgramMemory();
    bool SendProgramData();
    bool DisableBootMode();
    int32_t RestartUnit();

    // ---- Upgrade control over Modbus ----
    // Results as in serial/ResultCodes.h; BackupUnitSettings and RestoreUnitSettings give
    // TxResult::NoSettingsToCarry when the unit keeps its settings across this update.
    int32_t ReadUnitRegisters(uint8_t Slave, uint8_t Function, uint16_t FirstRegister,
                              uint16_t Count, uint16_t* Values);
    int32_t WriteUnitRegister(uint8_t Slave, uint8_t Function, uint16_t Register, uint16_t Value);
    int32_t WriteUnitRegisters(uint8_t Slave, uint8_t Function, uint16_t FirstRegister,
                               uint16_t Count, const uint16_t* Values);
    int32_t ReadUnitIdentity();
    int32_t BackupUnitSettings();
    int32_t RestoreUnitSettings();
    void CommitUnitSettings();
    int32_t EnableBootLoader();
    void Delay(int32_t Milliseconds);

    // ---- Upgrade sequence ----
    void Button6Click();
    void RunUpgrade(int Step);
    void PostUpgradeStep(int Step);
    bool RunInProgress() const { return UpgradeRunning; }
    // Asked before the window closes or Exit ends the program. True: go ahead now. False:
    // a run is in progress; the operator was asked, and if they agreed the run is stopped
    // (RequestStop) and the window closes when it has ended.
    bool QueryCloseDuringRun();
    // Stops the run in progress by the operator's rule (also what closing the window
    // does once agreed); nothing when no run is in progress. Before the erase the run ends
    // at the next step boundary with the last line "Update stopped by the operator.", a
    // unit already switched into its bootloader being told to leave boot mode and restart
    // first; once the erase has begun the update runs to its end. UpgradeEnded follows
    // either way.
    void RequestStop();

signals:
    // The run has ended: its last log line is final and the controls are back.
    void UpgradeEnded();

public:
protected:
    bool event(QEvent* Event) override;
    // The status panel's tool tip, made when it is asked for.
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;

private:
    void BuildControls();
    void BuildMenus();
    void CentreOnScreen();
    // Start is enabled only with a whole image, its numbers, a valid program range
    // (IsValidProgramRange) and at least one block of the image in it; a range that is
    // not valid, or one the image has no data in, is reported.
    void UpdateStartButton();
    // Names the port in use (CommsPortNumber) in the status panel.
    void ShowPortInPanel();
    // Tells, in the log, what data of a HEX image lies outside program memory and so is
    // not sent; nothing for a raw image.
    void LogDataLeftOut();

    // Shows the progress line ShowProgressSoon left, if it has not been shown.
    void ShowPendingProgress();

    bool ImageLoaded = false;      // the image buffer holds the build's image or a file's
    bool IdentityComplete = false; // every identity number was found

    bool UpgradeRunning = false;
    bool StopRequested = false; // the run ends by the stop rule (RequestStop)
    bool CloseAfterRun = false; // and the window closes then
    bool UnitSwitched = false;  // this run has begun to switch the unit into boot mode
    bool EraseBegun = false;    // this run has begun to erase the unit's program memory

    // The progress line waiting to be shown.
    struct TPendingProgress {
        bool Waiting = false;
        QString Line; // shared, not copied
        uint32_t Done = 0;
        uint32_t Total = 1;
    } PendingProgress;
};
