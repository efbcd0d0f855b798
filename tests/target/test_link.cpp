// Bringing the unit into its loader over a pseudo-terminal: the user and
// boot methods, the speed change and the first scrambled bytes, the
// identity check, each connection failure with its text and class, and
// the channel left closed after a failed connection.
#include "unitfixture.h"

#include "core/application.h"

#include <QTimer>
#include <chrono>
#include <thread>

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

class LinkTest : public UnitTest {
protected:
    // A unit of the model with these faults, whose connection by the user
    // method fails with exactly class E and this message.
    template <class E>
    void ExpectConnectFails(uint32_t unitType, std::vector<TUnitFault> faults, const std::string& message)
    {
        StartModel(unitType, std::move(faults));
        NewTarget(unitType, kUserMethod);
        ExpectFailure<E>([&] { Target->Connect(); }, message);
    }
};

TEST_F(LinkTest, FirstScrambledBytesOnTheLineMatchTheWorkedExample)
{
    ConnectModel(3);
    ASSERT_TRUE(Target->Device()->Channel()->Connected());

    const auto command = Unit->Frame("user command");
    ASSERT_TRUE(command);
    EXPECT_EQ(command->Line, Bytes("\x02PF1010\x03"));
    EXPECT_EQ(command->BitRate, 9600u);
    EXPECT_EQ(Unit->Frame("connect reply")->Line, Bytes("SwItChUp"));

    const auto request = Unit->Frame("speed-change request");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->Plain, (std::vector<uint8_t>{0x44, 0x05}));
    EXPECT_EQ(request->Line, (std::vector<uint8_t>{0x44, 0x04}));
    EXPECT_EQ(request->BitRate, 9600u);

    const uint8_t r = Options.SpeedReply;
    EXPECT_EQ(Unit->Frame("speed-change reply")->Line, (std::vector<uint8_t>{static_cast<uint8_t>(r ^ 0x02)}));
    const uint8_t d = TFlashFDTDevice::ComputeDivisor(r, 9600, 19200);
    const auto divisor = Unit->Frame("divisor");
    ASSERT_TRUE(divisor);
    EXPECT_EQ(divisor->Plain, (std::vector<uint8_t>{d}));
    EXPECT_EQ(divisor->Line, (std::vector<uint8_t>{static_cast<uint8_t>(d ^ 0x03)}));

    const auto check = Unit->Frame("speed-change check");
    ASSERT_TRUE(check);
    EXPECT_EQ(check->Line, (std::vector<uint8_t>{0x45, 0x47, 0x45, 0x43, 0x4D}));
    EXPECT_EQ(check->BitRate, 19200u);
    EXPECT_EQ(Unit->Frame("speed-change echo")->Line, (std::vector<uint8_t>{0x48, 0x48, 0x48, 0x48, 0x48}));

    const auto iden = Unit->Frame("identity query");
    ASSERT_TRUE(iden);
    EXPECT_EQ(iden->Line, (std::vector<uint8_t>{0x47, 0x4B, 0x55, 0x5F}));
    const auto identity = Unit->Frame("identity");
    ASSERT_TRUE(identity);
    ASSERT_EQ(identity->Line.size(), 40u);
    for (size_t i = 0; i < 40; ++i) EXPECT_EQ(identity->Line[i], identity->Plain[i] ^ (18 + i)) << i;

    // The link ping and the target's identity check.
    EXPECT_EQ(Unit->CountFrames("identity query"), 2u);
    EXPECT_EQ(Status.Texts.front(), "Connecting...");
    EXPECT_EQ(Progress.Maximum, 1);
    EXPECT_EQ(Progress.CurrentPosition, 1);
    EXPECT_FALSE(Device().InOperation());
    EXPECT_EQ(Device().Channel()->ActualBaudRate(), 19200);
}

TEST_F(LinkTest, ModelWithoutCommandIsAnsweredOnThePurgeAlone)
{
    ConnectModel(14);
    EXPECT_FALSE(Unit->HasFrame("user command"));
    EXPECT_TRUE(Unit->HasFrame("connect reply"));
    EXPECT_EQ(Device().Channel()->ActualBaudRate(), 57600);
}

TEST_F(LinkTest, UserMethodFailuresAreReportedAsTheUnitNotAnswering)
{
    struct TCase {
        std::vector<TUnitFault> Faults;
        bool FirmwareAnswers;
        const char* Message;
    };
    const std::vector<TCase> cases = {
        {{}, false, "No reply to start command"},
        {{Fault(fkSilence, fpConnect, 0)}, true, "No reply to start command"},
        {{Fault(fkShortReply, fpConnect, 0)}, true, "No reply to start command"},
        {{Fault(fkHangUp, fpConnect, 0)}, true, "No reply to start command"},
        {{Fault(fkWrongReply, fpConnect, 0)}, true, "Reply doesn't match"},
        {{Fault(fkNoise, fpConnect, 0)}, true, "Reply doesn't match"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Message);
        TUnitSimOptions options;
        options.UnitType = 5;
        options.FirmwareAnswersUserCommand = c.FirmwareAnswers;
        options.Faults = c.Faults;
        StartUnit(options);
        NewTarget(5, kUserMethod);
        ExpectFailure<EFDTException>([&] { Target->Connect(); }, c.Message);
        EXPECT_FALSE(Unit->HasFrame("speed-change request"));
        EXPECT_FALSE(Device().InOperation());
        Target.reset();
    }
}

TEST_F(LinkTest, SpeedChangeAndIdentityFailuresPassOnWithTheirClass)
{
    ExpectConnectFails<EMorvexComTimeout>(3, {Fault(fkSilence, fpSpeedReply, 0)}, "No Reply Within Time Out Period");
    ExpectConnectFails<EFDTException>(3, {Fault(fkWrongReply, fpSpeedEcho, 0)}, "Acknowledge data doesn't match");
    ExpectConnectFails<EMorvexComTimeout>(3, {Fault(fkShortReply, fpSpeedEcho, 0)}, "No Reply Within Time Out Period");

    // A reply later than the 500 ms the identity query allows.
    ExpectConnectFails<EMorvexComTimeout>(3, {Fault(fkSlowReply, fpIdentity, 0, {}, 900)},
                                          "No Reply Within Time Out Period");
    ExpectConnectFails<EMorvexComTimeout>(3, {Fault(fkShortReply, fpIdentity, 0)}, "No Reply Within Time Out Period");
    EXPECT_FALSE(Device().InOperation());
}

TEST_F(LinkTest, IdentityThatDoesNotFitTheModelFailsTheConnection)
{
    // Index 0 is the link's own ping, 1 the target's identity check.
    ExpectConnectFails<EHitachiFlashException>(3, {Fault(fkWrongStart, fpIdentity, 1)},
                                               "Flash uP does not match definition");
    ExpectConnectFails<EHitachiFlashException>(5, {Fault(fkWrongSize, fpIdentity, 1)},
                                               "Flash uP does not match definition");

    std::vector<uint8_t> noColons = Bytes("Morvex 4620 V2.5\n");
    noColons.resize(40, 0x00);
    ExpectConnectFails<EConvertError>(3, {Fault(fkWrongReply, fpIdentity, 1, noColons)}, "Bad Device Identity String");
}

TEST_F(LinkTest, ReportedNamePlaysNoPart)
{
    TUnitSimOptions options;
    options.UnitType = 3;
    options.IdentityName = "something else entirely";
    StartUnit(options);
    NewTarget(3, kUserMethod);
    EXPECT_NO_THROW(Target->Connect());
}

TEST_F(LinkTest, UnknownMethodGoesStraightToTheSpeedChange)
{
    StartModel(3);
    CallerConnectPort.SetPort(Unit->PortPath());
    TConnectInfo info;
    info.Method = 2;
    info.ConnectPort = &CallerConnectPort;
    info.ProgramPort = &CallerProgramPort;
    CreateFlashTarget(3, Target, nullptr, nullptr, info);
    // The running firmware does not know the speed-change request.
    ExpectFailure<EMorvexComTimeout>([&] { Target->Connect(); }, "No Reply Within Time Out Period");
    EXPECT_FALSE(Unit->HasFrame("user command"));
    EXPECT_FALSE(Unit->HasFrame("connect word"));
    EXPECT_FALSE(Unit->HasFrame("connect reply"));
    EXPECT_EQ(Unit->State(), usFirmware);
}

TEST_F(LinkTest, EmptyReplyCountsAsMatchedAtOnce)
{
    StartModel(3);
    TMorvexComPort connectPort;
    TMorvexComPort programPort;
    connectPort.SetPort(Unit->PortPath());
    programPort.SetPort(Unit->PortPath());
    TConnectInfo info;
    info.Method = kUserMethod;
    info.ConnectPort = &connectPort;
    info.ProgramPort = &programPort;
    QObject owner;
    TFlashFDTDevice device(&owner);
    device.Channel()->SetPort(Unit->PortPath());
    device.Channel()->OpenPort();
    // Nothing to send, nothing to wait for: straight on to the speed
    // change, which the running firmware does not answer.
    ExpectFailure<EMorvexComTimeout>([&] { device.EstablishLink(info); }, "No Reply Within Time Out Period");
    EXPECT_FALSE(device.InOperation());
}

// ---------------------------------------------------------------- boot method

TEST_F(LinkTest, BootMethodConnectsOnceTheOperatorResetsTheUnit)
{
    TUnitSimOptions options;
    options.UnitType = 1;
    options.FirmwareAnswersUserCommand = false;
    StartUnit(options);
    NewTarget(1, kBootMethod);
    // The operator resets the unit a little while after the prompt shows.
    QTimer::singleShot(350, [this] { Unit->OperatorReset(); });
    Target->Connect();

    ASSERT_NE(Prompt, nullptr);
    EXPECT_EQ(Prompt->Shown, std::vector<std::string>{"Reset the Unit"});
    EXPECT_EQ(Prompt->Hides, 1);
    EXPECT_FALSE(Prompt->Visible);
    EXPECT_GE(Unit->CountFrames("connect word"), 2u);
    EXPECT_EQ(Unit->Frame("connect word")->Line, Bytes("SwItChUp"));
    EXPECT_EQ(Unit->Frame("connect word")->BitRate, 9600u);
    // The bar ran 0..100 while waiting and is full on success.
    EXPECT_EQ(Progress.Ranges.front(), 100);
    EXPECT_EQ(Progress.Maximum, 1);
    EXPECT_EQ(Progress.CurrentPosition, 1);
    EXPECT_EQ(Device().Channel()->ActualBaudRate(), 19200);
}

TEST_F(LinkTest, BootMethodIgnoresTheCallersLineSettings)
{
    TUnitSimOptions options;
    options.UnitType = 0;
    options.FirmwareAnswersUserCommand = false;
    options.AutoResetAfterConnectWords = 2;
    StartUnit(options);
    CallerConnectPort.SetBaudRate(br38400);
    NewTarget(0, kBootMethod);
    Target->Connect();
    EXPECT_EQ(Unit->CountFrames("connect word"), 3u);
    EXPECT_EQ(Unit->Frame("connect word")->BitRate, 9600u);
    EXPECT_EQ(Unit->Frame("speed-change check")->BitRate, 115200u);
    EXPECT_EQ(Prompt->Hides, 1);
}

TEST_F(LinkTest, BootMethodCancelEndsWithinOneAttempt)
{
    TUnitSimOptions options;
    options.UnitType = 5;
    options.FirmwareAnswersUserCommand = false;
    StartUnit(options);
    PromptCancelAtQuery = 2;
    NewTarget(5, kBootMethod);
    ExpectFailure<EFDTException>([&] { Target->Connect(); }, "Connect Cancelled by User");
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // let the last word arrive
    EXPECT_EQ(Unit->CountFrames("connect word"), 2u);
    EXPECT_EQ(Prompt->Hides, 1);
    EXPECT_FALSE(Prompt->Visible);
    EXPECT_FALSE(Device().InOperation());
}

TEST_F(LinkTest, BootMethodGivesUpAfterAHundredAttempts)
{
    TUnitSimOptions options;
    options.UnitType = 3;
    options.FirmwareAnswersUserCommand = false;
    StartUnit(options);
    NewTarget(3, kBootMethod);
    ExpectFailure<EFDTException>([&] { Target->Connect(); }, "No reply to connect command");
    EXPECT_EQ(Unit->CountFrames("connect word"), 100u);
    EXPECT_EQ(Prompt->Hides, 1);
    EXPECT_EQ(Progress.Maximum, 100);
}

TEST_F(LinkTest, BootMethodRemembersOneWrongReplyAmongTheSilentAttempts)
{
    TUnitSimOptions options;
    options.UnitType = 3;
    options.FirmwareAnswersUserCommand = false;
    options.Faults = {Fault(fkWrongReply, fpConnect, 2)};
    StartUnit(options);
    NewTarget(3, kBootMethod);
    ExpectFailure<EFDTException>([&] { Target->Connect(); }, "Unexpected reply to connect command");
    EXPECT_EQ(Unit->CountFrames("connect word"), 100u);
    EXPECT_EQ(Prompt->Hides, 1);
}

TEST_F(LinkTest, BootMethodPortFailureEndsAtOnceWithThePromptHidden)
{
    TUnitSimOptions options;
    options.UnitType = 3;
    options.FirmwareAnswersUserCommand = false;
    options.Faults = {Fault(fkHangUp, fpConnect, 1)};
    StartUnit(options);
    NewTarget(3, kBootMethod);
    try {
        Target->Connect();
        ADD_FAILURE() << "connected over a line that hung up";
    } catch (const EComPort& e) {
        EXPECT_EQ(typeid(e), typeid(EComPort)) << e.what();
    }
    EXPECT_EQ(Unit->CountFrames("connect word"), 2u);
    EXPECT_EQ(Prompt->Hides, 1);
    EXPECT_FALSE(Prompt->Visible);
}

// ---------------------------------------------- the channel after a failure

TEST_F(LinkTest, FailedConnectClosesTheChannelSoNoKeepAliveReachesTheUnit)
{
    TUnitSimOptions options;
    options.UnitType = 3;
    options.FirmwareAnswersUserCommand = false;
    StartUnit(options);
    NewTarget(3, kUserMethod);
    Device().KeepAliveTimer()->setInterval(30);
    ExpectFailure<EFDTException>([&] { Target->Connect(); }, "No reply to start command");
    EXPECT_FALSE(Device().Channel()->Connected());

    // While the operator reads the question no keep-alive query fails into
    // an error box, and the port is free for the next attempt.
    RunEvents(250);
    EXPECT_TRUE(BackgroundFailures.empty());
    TMorvexComPort other;
    other.SetPort(Unit->PortPath());
    EXPECT_NO_THROW(other.OpenPort());
    other.ClosePort();
    // The target itself lives on until the factory replaces it.
    EXPECT_TRUE(Target);
}

TEST_F(LinkTest, ConnectionThatFailsAfterTheLinkIsUpClosesTheChannelToo)
{
    StartModel(3, {Fault(fkWrongStart, fpIdentity, 1)});
    NewTarget(3, kUserMethod);
    Device().KeepAliveTimer()->setInterval(30);
    ExpectFailure<EHitachiFlashException>([&] { Target->Connect(); }, "Flash uP does not match definition");
    EXPECT_FALSE(Device().Channel()->Connected());
    const size_t queries = Unit->CountFrames("identity query");
    RunEvents(200);
    EXPECT_EQ(Unit->CountFrames("identity query"), queries);
}

TEST_F(LinkTest, ChannelThatCannotOpenFailsWithThePortError)
{
    StartModel(3);
    CallerConnectPort.SetPort("/dev/morvex-no-such-port");
    TConnectInfo info;
    info.Method = kUserMethod;
    info.ConnectPort = &CallerConnectPort;
    info.ProgramPort = &CallerProgramPort;
    CreateFlashTarget(3, Target, nullptr, nullptr, info);
    try {
        Target->Connect();
        ADD_FAILURE() << "opened a port that does not exist";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.MessageCode(), 1);
    }
    EXPECT_FALSE(Device().Channel()->Connected());
}

} // namespace
