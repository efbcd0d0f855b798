// The model catalogue, the factory and the rules by which a target takes
// its defaults and the caller's connection choices.
#include "core/progress.h"
#include "core/operatorhooks.h"
#include "serial/devicechannel.h"
#include "target/unitmodels.h"
#include "tools/unitsim/unitcatalogue.h"

#include <QPointer>
#include <memory>
#include <gtest/gtest.h>

namespace {

const std::string kStx = "\x02";
const std::string kEtx = "\x03";
std::string Pf(const char* digits) { return kStx + "PF" + digits + kEtx; }

struct TModelRow {
    uint32_t UnitType;
    const char* ClassName;
    const char* Family;
    uint32_t Start;
    uint32_t Size;
    TBaudRate ProgramRate;
    std::string UserCommand;
};

void PrintTo(const TModelRow& row, std::ostream* os) { *os << "type " << row.UnitType << " " << row.ClassName; }

class CatalogueTest : public ::testing::TestWithParam<TModelRow> {};

TConnectInfo CallerRecord(uint8_t method, TMorvexComPort& connectPort, TMorvexComPort& programPort)
{
    TConnectInfo info;
    info.Method = method;
    info.ConnectPort = &connectPort;
    info.ProgramPort = &programPort;
    return info;
}

TEST_P(CatalogueTest, FactoryBuildsTheModelsTarget)
{
    const TModelRow& row = GetParam();
    TMorvexComPort connectPort;
    TMorvexComPort programPort;
    connectPort.SetPort("ttyUSB3");
    std::unique_ptr<THitachiFlash> target;
    CreateFlashTarget(row.UnitType, target, nullptr, nullptr, CallerRecord(kUserMethod, connectPort, programPort));
    ASSERT_TRUE(target);

    EXPECT_STREQ(target->metaObject()->className(), row.ClassName);
    EXPECT_TRUE(target->inherits(row.Family));
    EXPECT_EQ(target->FlashStart(), row.Start);
    EXPECT_EQ(target->FlashSize(), row.Size);
    EXPECT_EQ(target->Device()->AddressSize(), 4);
    EXPECT_EQ(target->Device()->ReadBlockSize(), 32);
    EXPECT_EQ(target->Device()->WriteBlockSize(), 128);

    const TConnectInfo& info = target->ConnectInfo();
    EXPECT_EQ(info.Method, kUserMethod);
    EXPECT_EQ(info.ConnectCommand, row.UserCommand);
    EXPECT_EQ(info.ConnectReply, "SwItChUp");
    EXPECT_EQ(info.ConnectPort->BaudRate(), br9600);
    EXPECT_EQ(info.ProgramPort->BaudRate(), row.ProgramRate);
    EXPECT_EQ(info.ProgramPort->Port(), "ttyUSB3");
    EXPECT_NE(info.Prompt, nullptr);

    // The boot method sends the connect word to every model.
    CreateFlashTarget(row.UnitType, target, nullptr, nullptr, CallerRecord(kBootMethod, connectPort, programPort));
    EXPECT_EQ(target->ConnectInfo().ConnectCommand, "SwItChUp");
    EXPECT_EQ(target->ConnectInfo().ConnectReply, "SwItChUp");
    EXPECT_EQ(target->ConnectInfo().ProgramPort->BaudRate(), row.ProgramRate);
}

INSTANTIATE_TEST_SUITE_P(
    Models, CatalogueTest,
    ::testing::Values(TModelRow{0, "TMorvexProgrammerFlash", "TMorvex7100Flash", 0, 0x20000, br115200, "SwItChUp"},
                      TModelRow{1, "TMorvex3810Flash", "THitachiFlash", 0x800, 0x4800, br19200, Pf("1010")},
                      TModelRow{2, "TMorvex3810DpyFlash", "TMorvex3810Flash", 0x800, 0x4800, br19200, Pf("1020")},
                      TModelRow{3, "TMorvex4620Flash", "TMorvex3810Flash", 0x800, 0x7800, br19200, Pf("1010")},
                      TModelRow{4, "TMorvex4650Flash", "TMorvex4620Flash", 0x800, 0x7800, br19200, Pf("1070")},
                      TModelRow{5, "TMorvex7100Flash", "THitachiFlash", 0x1000, 0x1F000, br57600, Pf("1010")},
                      TModelRow{6, "TDW4710Flash", "TMorvex7100Flash", 0x1000, 0x1F000, br57600, Pf("1040")},
                      TModelRow{7, "TMorvex7300Flash", "TMorvex7100Flash", 0x1000, 0x1F000, br57600, Pf("1010")},
                      TModelRow{8, "TMorvex7310Flash", "TMorvex7300Flash", 0x1000, 0x1F000, br57600, Pf("1030")},
                      TModelRow{9, "TMorvex7330Flash", "TMorvex7300Flash", 0x1000, 0x1F000, br57600, Pf("1060")},
                      TModelRow{10, "TMorvex4621Flash", "TMorvex4620Flash", 0x800, 0x7800, br19200, Pf("1050")},
                      TModelRow{11, "TMorvex8200Flash", "TMorvex7100Flash", 0x1000, 0x1F000, br57600, Pf("1080")},
                      TModelRow{12, "TMorvex8400Flash", "TMorvex7100Flash", 0x1000, 0x1F000, br57600, Pf("1090")},
                      TModelRow{13, "TCalmontCRX340Flash", "TMorvex7300Flash", 0x1000, 0x1F000, br57600, Pf("1100")},
                      TModelRow{14, "TMorvex3840Flash", "TMorvex7100Flash", 0x1000, 0x1F000, br57600, ""}));

TEST(Catalogue, NamesEveryUnitType)
{
    ASSERT_EQ(UnitModelNames.size(), 16u);
    EXPECT_STREQ(UnitModelNames[0], "Programmer (7100-050)");
    EXPECT_STREQ(UnitModelNames[2], "Morvex 3810 Display");
    EXPECT_STREQ(UnitModelNames[6], "Dexa DW4710");
    EXPECT_STREQ(UnitModelNames[13], "Calmont CRX330/CRX340");
    EXPECT_STREQ(UnitModelNames[14], "Morvex 3840");
    EXPECT_STREQ(UnitModelNames[15], "Advanced");
}

// The simulated unit keeps its own catalogue on purpose; a model added to
// one table and not the other, or a row that differs, shows here.
TEST(Catalogue, SimulatedUnitKnowsEveryModelAsTheProgrammerDoes)
{
    uint32_t modelsWithTarget = 0;
    for (uint32_t unitType = 0; unitType < UnitModelNames.size(); ++unitType)
        if (FindUnitType(unitType)->NewTarget) ++modelsWithTarget;
    ASSERT_EQ(modelsWithTarget, kSimModelCount);
    TMorvexComPort connectPort;
    TMorvexComPort programPort;
    for (uint32_t unitType = 0; unitType < kSimModelCount; ++unitType) {
        SCOPED_TRACE("unit type " + std::to_string(unitType));
        std::unique_ptr<THitachiFlash> target;
        CreateFlashTarget(unitType, target, nullptr, nullptr, CallerRecord(kUserMethod, connectPort, programPort));
        EXPECT_EQ(ModelName(unitType), UnitModelNames[unitType]);
        EXPECT_EQ(ModelFlashStart(unitType), target->FlashStart());
        EXPECT_EQ(ModelFlashSize(unitType), target->FlashSize());
        EXPECT_EQ(int32_t(ModelProgramRate(unitType)), BaudRateBits(target->ConnectInfo().ProgramPort->BaudRate()));
        const std::vector<uint8_t> command = ModelUserCommand(unitType);
        EXPECT_EQ(std::string(command.begin(), command.end()), target->ConnectInfo().ConnectCommand);
    }
}

TEST(Catalogue, UndefinedUnitTypeFreesThePreviousTargetAndLeavesNone)
{
    TMorvexComPort connectPort;
    TMorvexComPort programPort;
    for (uint32_t unitType : {15u, 16u, 0xFFFFFFFFu}) {
        std::unique_ptr<THitachiFlash> target;
        CreateFlashTarget(3, target, nullptr, nullptr, CallerRecord(kUserMethod, connectPort, programPort));
        QPointer<THitachiFlash> previous(target.get());
        try {
            CreateFlashTarget(unitType, target, nullptr, nullptr, CallerRecord(kUserMethod, connectPort, programPort));
            ADD_FAILURE() << "type " << unitType << " accepted";
        } catch (const EHitachiFlashException& e) {
            EXPECT_EQ(e.Message(), "Flash uP not defined");
        }
        EXPECT_FALSE(target);
        EXPECT_TRUE(previous.isNull());
    }
}

TEST(Catalogue, FactoryReplacesThePreviousTargetAndWiresProgress)
{
    struct TNullText : TStatusText {
        void SetText(const std::string&) override {}
    } label;
    TMorvexComPort connectPort;
    TMorvexComPort programPort;
    std::unique_ptr<THitachiFlash> target;
    CreateFlashTarget(5, target, nullptr, nullptr, CallerRecord(kUserMethod, connectPort, programPort));
    QPointer<THitachiFlash> first(target.get());
    CreateFlashTarget(5, target, &label, nullptr, CallerRecord(kBootMethod, connectPort, programPort));
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(target->Device()->StatusLabel(), static_cast<TStatusText*>(&label));
    EXPECT_EQ(target->Device()->ProgressBar(), nullptr);
    EXPECT_EQ(target->ConnectInfo().Method, kBootMethod);
}

// ------------------------------------------------------------- target rules

TEST(TargetDefaults, BaseTargetHasNoAreaAndTheNarrowAddresses)
{
    THitachiFlash target;
    EXPECT_EQ(target.FlashStart(), 0u);
    EXPECT_EQ(target.FlashSize(), 0u);
    EXPECT_EQ(target.Device()->AddressSize(), 2);
    const TConnectInfo& info = target.ConnectInfo();
    EXPECT_EQ(info.Method, kBootMethod);
    EXPECT_EQ(info.ConnectCommand, "SwItChUp");
    EXPECT_EQ(info.ConnectReply, "SwItChUp");
    for (TMorvexComPort* port : {info.ConnectPort, info.ProgramPort}) {
        EXPECT_EQ(port->Port(), "COM1");
        EXPECT_EQ(port->BaudRate(), br9600);
        EXPECT_EQ(port->DataBits(), dbEight);
        EXPECT_EQ(port->StopBits(), sbOneStopBit);
        EXPECT_EQ(port->Parity().Bits(), prNone);
        EXPECT_FALSE(port->Connected());
    }
    // The user method of the base class has no command at all.
    TMorvexComPort connectPort;
    TMorvexComPort programPort;
    target.SetConnectInfo(CallerRecord(kUserMethod, connectPort, programPort));
    EXPECT_EQ(target.ConnectInfo().ConnectCommand, "");
}

TEST(TargetDefaults, ModelDefaultsReachTheOverrideWhenBuiltDirectly)
{
    // Built without the factory, the constructors alone must leave each
    // family's programming rate in place.
    EXPECT_EQ(TMorvex4650Flash().ConnectInfo().ProgramPort->BaudRate(), br19200);
    EXPECT_EQ(TCalmontCRX340Flash().ConnectInfo().ProgramPort->BaudRate(), br57600);
    EXPECT_EQ(TMorvexProgrammerFlash().ConnectInfo().ProgramPort->BaudRate(), br115200);
    TMorvexProgrammerFlash programmer;
    programmer.SetDefaults();
    EXPECT_EQ(programmer.ConnectInfo().ProgramPort->BaudRate(), br115200);
    EXPECT_EQ(programmer.ConnectInfo().ConnectPort->BaudRate(), br9600);
}

class SetConnectInfoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        connectPort.SetPort("ttyS7");
        connectPort.SetBaudRate(br38400);
        connectPort.SetDataBits(dbSeven);
        connectPort.SetStopBits(sbTwoStopBits);
        connectPort.Parity().SetBits(prEven);
        connectPort.FlowControl().SetFlowControl(fcHardware);
        programPort.SetPort("ttyS9");
        programPort.SetBaudRate(br300);
    }
    TConnectInfo Record(uint8_t method)
    {
        TConnectInfo info = CallerRecord(method, connectPort, programPort);
        info.ConnectCommand = "caller's command";
        info.ConnectReply = "caller's reply";
        info.Prompt = &callerPrompt;
        return info;
    }
    TMorvexComPort connectPort;
    TMorvexComPort programPort;
    TUserPrompt callerPrompt;
    TMorvex4620Flash target;
};

TEST_F(SetConnectInfoTest, UserMethodTakesAllTheCallersHandshakeSettings)
{
    target.SetConnectInfo(Record(kUserMethod));
    const TConnectInfo& info = target.ConnectInfo();
    EXPECT_EQ(info.ConnectPort->Port(), "ttyS7");
    EXPECT_EQ(info.ConnectPort->BaudRate(), br38400);
    EXPECT_EQ(info.ConnectPort->DataBits(), dbSeven);
    EXPECT_EQ(info.ConnectPort->StopBits(), sbTwoStopBits);
    EXPECT_EQ(info.ConnectPort->Parity().Bits(), prEven);
    EXPECT_EQ(info.ConnectPort->FlowControl().FlowControl(), fcHardware);
    // The programming settings are the model's own; only the name follows.
    EXPECT_EQ(info.ProgramPort->Port(), "ttyS7");
    EXPECT_EQ(info.ProgramPort->BaudRate(), br19200);
    EXPECT_EQ(info.ProgramPort->DataBits(), dbEight);
    EXPECT_EQ(info.ConnectCommand, Pf("1010"));
    EXPECT_EQ(info.ConnectReply, "SwItChUp");
    EXPECT_NE(info.Prompt, &callerPrompt);
    EXPECT_NE(info.Prompt, nullptr);
}

TEST_F(SetConnectInfoTest, BootMethodTakesOnlyThePortName)
{
    target.SetConnectInfo(Record(kBootMethod));
    const TConnectInfo& info = target.ConnectInfo();
    EXPECT_EQ(info.ConnectPort->Port(), "ttyS7");
    EXPECT_EQ(info.ConnectPort->BaudRate(), br9600);
    EXPECT_EQ(info.ConnectPort->DataBits(), dbEight);
    EXPECT_EQ(info.ConnectPort->StopBits(), sbOneStopBit);
    EXPECT_EQ(info.ConnectPort->Parity().Bits(), prNone);
    EXPECT_EQ(info.ConnectPort->FlowControl().FlowControl(), fcNone);
    EXPECT_EQ(info.ProgramPort->Port(), "ttyS7");
    EXPECT_EQ(info.ConnectCommand, "SwItChUp");
    EXPECT_EQ(info.ConnectReply, "SwItChUp");
}

TEST_F(SetConnectInfoTest, OtherMethodLeavesTheTextsAsTheyWere)
{
    target.SetConnectInfo(Record(kUserMethod));
    target.SetConnectInfo(Record(2));
    EXPECT_EQ(target.ConnectInfo().Method, 2);
    EXPECT_EQ(target.ConnectInfo().ConnectCommand, Pf("1010"));
    EXPECT_EQ(target.ConnectInfo().ConnectReply, "SwItChUp");

    TMorvex4620Flash fresh;
    fresh.SetConnectInfo(Record(7));
    EXPECT_EQ(fresh.ConnectInfo().ConnectCommand, "SwItChUp");
    EXPECT_EQ(fresh.ConnectInfo().ConnectPort->BaudRate(), br9600);
    EXPECT_EQ(fresh.ConnectInfo().ConnectPort->Port(), "ttyS7");
}

TEST(TargetPrompt, ComesFromTheInstalledHooks)
{
    struct TMarkedPrompt : TUserPrompt {
        using TUserPrompt::TUserPrompt;
    };
    struct THooks : TOperatorHooks {
        TUserPrompt* CreatePrompt(QObject* owner) override
        {
            SeenOwner = owner;
            return new TMarkedPrompt(owner);
        }
        void BackgroundFailure(const std::exception&) override {}
        QObject* SeenOwner = nullptr;
    } hooks;
    std::unique_ptr<TMorvex7100Flash> target;
    {
        const TOperatorHooksScope installed(hooks);
        target = std::make_unique<TMorvex7100Flash>();
    }
    EXPECT_EQ(hooks.SeenOwner, target.get());
    EXPECT_NE(dynamic_cast<TMarkedPrompt*>(target->ConnectInfo().Prompt), nullptr);
    EXPECT_EQ(target->ConnectInfo().Prompt->parent(), target.get());

    TMorvex7100Flash silent;
    EXPECT_EQ(typeid(*silent.ConnectInfo().Prompt), typeid(TUserPrompt));
}

} // namespace
