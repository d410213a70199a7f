// The description panel, the editor of the user's knowledge file, the web
// searches and the automatic sweep, on the real main window with real
// knowledge files in a temporary folder and real boxes answered by the test.
#include <optional>

#include "mainwindow/modMain.h"
#include "platform/dao/dao.h"
#include "platform/jet/File.h"
#include "platform/jet/Jet.h"
#include "sysaccess/modEnDeCryption.h"
#include "test_actions_support.h"

namespace {

using namespace acttest;
using testsupport::MessageBoxAnswerer;
using testsupport::TempDir;

const std::wstring kKey = L"46120573";
const std::wstring kPassword = L"tqvnal527184wodrk";
const std::wstring kNotFound = L"抱歉！没有找到该进程相关信息。";
const std::wstring kFillIn = L"请填写完整！";
constexpr unsigned long kRed = 0x0000FF;

struct Rec {
    std::wstring name;
    std::optional<std::wstring> description;
    std::optional<std::wstring> virus;
    bool storedAsIs = false;  // maker's file: the description is not enciphered
};

// A knowledge file whose writes fail once told to (a full disk).
class FailingFile : public jet::File {
public:
    explicit FailingFile(const std::wstring& path) : inner_(jet::OpenFile(path, jet::FileAccess::ReadWrite, true)) {}
    std::uint64_t Size() override { return inner_->Size(); }
    void Read(std::uint64_t offset, void* buffer, std::size_t n) override { inner_->Read(offset, buffer, n); }
    void Write(std::uint64_t offset, const void* buffer, std::size_t n) override {
        if (writesLeft == 0) throw jet::Error(jet::err::DiskFull, L"Not enough space on disk.");
        if (writesLeft > 0) --writesLeft;
        inner_->Write(offset, buffer, n);
    }
    void Truncate(std::uint64_t size) override { inner_->Truncate(size); }
    void Flush() override { inner_->Flush(); }
    const std::wstring& Name() const override { return inner_->Name(); }
    long writesLeft = -1;  // writes that still succeed; -1 no limit

private:
    std::unique_ptr<jet::File> inner_;
};

class Knowledge : public Actions {
protected:
    void SetUp() override {
        Actions::SetUp();
        savedMain_ = modMain::g_dbMain;
        savedUser_ = modMain::g_dbUser;
        modMain::g_dbMain.reset();
        modMain::g_dbUser.reset();
        modEnDeCryption::g_cipherKey = kKey;
        Form().shellOpen = [this](HWND owner, const std::wstring& address, int show) {
            opened_.push_back({owner, address, show});
        };
    }
    void TearDown() override {
        Form().SetCheckValue(Form().chkAntiVirus, 0);
        modMain::g_dbMain = savedMain_;
        modMain::g_dbUser = savedUser_;
        for (DWORD pid : {999993u, 999994u}) RemoveRow(pid);
        Actions::TearDown();
    }

    void Maker(const std::vector<Rec>& records) {
        std::wstring path = dir_.File(L"db.mdb");
        {
            auto db = jet::Database::Create(path, kPassword);
            auto& t = db->CreateTable(L"Process", {{L"ProcessName"}, {L"Description"}, {L"Virus", 1}});
            for (const auto& r : records) {
                std::optional<std::wstring> d = r.description;
                if (d && !r.storedAsIs) d = modEnDeCryption::Encrypt(*d, kKey);
                t.Append({modEnDeCryption::Encrypt(r.name, kKey), d, r.virus});
            }
        }
        modMain::g_dbMain = dao::DBEngine::OpenDatabase(path, true, false, L";pwd=" + kPassword);
    }
    void MakeUserFile(const std::vector<Rec>& records) {
        DeleteFileW(dir_.File(L"userdb.mdb").c_str());
        auto db = jet::Database::Create(dir_.File(L"userdb.mdb"));
        auto& t = db->CreateTable(L"Process", {{L"ProcessName"}, {L"Description"}, {L"Virus", 1}});
        for (const auto& r : records) t.Append({r.name, r.description, r.virus});
    }
    void User(const std::vector<Rec>& records) {
        MakeUserFile(records);
        modMain::g_dbUser = dao::DBEngine::OpenDatabase(dir_.File(L"userdb.mdb"), true, false);
    }
    // The user's file as it is on disk, after the tool lets go of it.
    std::vector<std::vector<std::wstring>> UserFileRows() {
        modMain::g_dbUser.reset();
        jet::OpenOptions o;
        o.exclusive = true;
        auto db = jet::Database::Open(dir_.File(L"userdb.mdb"), o);
        std::vector<std::vector<std::wstring>> rows;
        auto& t = db->OpenTable(L"Process");
        for (auto id : t.AllRows()) {
            std::vector<std::wstring> row;
            for (const auto& v : t.Row(id)) row.push_back(v.value_or(L"(null)"));
            rows.push_back(row);
        }
        return rows;
    }

    static HWND NameBox() { return Form().txtPrcName; }
    static HWND DescriptionBox() { return Form().txtPrcDescription; }
    static std::wstring Name() { return ui::GetText(NameBox()); }
    static std::wstring Description() { return ui::GetText(DescriptionBox()); }
    static bool Visible(HWND w) { return (GetWindowLongPtrW(w, GWL_STYLE) & WS_VISIBLE) != 0; }
    static bool ReadOnly(HWND w) { return (GetWindowLongPtrW(w, GWL_STYLE) & ES_READONLY) != 0; }
    static void Type(HWND box, const std::wstring& text) { ui::SetText(box, text); }
    static void ExpectViewMode() {
        EXPECT_EQ(ui::GetText(Form().cmdPrcAdd), L"添加");
        EXPECT_EQ(ui::GetText(Form().cmdPrcEdit), L"修改");
        EXPECT_TRUE(ReadOnly(DescriptionBox()));
        EXPECT_FALSE(Visible(Form().picLevel));
    }
    // Turns the option on as a click does, and off again afterwards.
    static void Sweep() {
        Form().SetCheckValue(Form().chkAntiVirus, 0);
        Form().SetCheckValue(Form().chkAntiVirus, 1);
    }
    static std::wstring Ended(const std::wstring& name, DWORD pid) {
        return L"发现危险进程 " + name + L" [" + std::to_wstring(pid) + L"] 并已被结束。  ";
    }
    static std::wstring NotEnded(const std::wstring& name, DWORD pid) {
        return L"发现危险进程 " + name + L" [" + std::to_wstring(pid) + L"] 但无法结束，请另行处理。  ";
    }
    int AddProcessRow(DWORD pid, const std::wstring& name) { return AddRow(pid, name, L"C:\\" + name, L"标准", kBlack); }

    struct Opened {
        HWND owner;
        std::wstring address;
        int show;
    };
    std::vector<Opened> opened_;
    TempDir dir_{L"mx_knowledge"};
    dao::DatabasePtr savedMain_, savedUser_;
};

}  // namespace

TEST_F(Knowledge, LookupTakesTheUsersFileFirstAndTheExactNameFirst) {
    Maker({{L"both.exe", L"厂商描述", L"Y"}, {L"makeronly.exe", L"记事本程序", L"N"}, {L"plain", L"不带扩展名", L"N"},
           {L"plain.exe", L"带扩展名", L"Y"}, {L"userexe", L"厂商的", L"Y"}});
    User({{L"both.exe", L"用户描述", L"N"}, {L"mine.exe", L"我的程序", L"Y"}, {L"userexe.exe", L"用户的", L"N"},
          {L"exact", L"精确", L"N"}, {L"exact.exe", L"扩展", L"Y"}, {L"o'neil.exe", L"带引号", L"N"}});
    struct Case {
        std::wstring typed, shownName, description;
        unsigned long colour;
    };
    const Case cases[] = {
        {L"both.exe", L"both.exe", L"用户描述", kBlack},       // user "N" over maker "Y"
        {L"mine", L"mine.exe", L"我的程序", kRed},             // ".exe" added and shown
        {L"exact", L"exact", L"精确", kBlack},                 // exact name before name & ".exe"
        {L"userexe", L"userexe.exe", L"用户的", kBlack},       // user's ".exe" before the maker's exact name
        {L"makeronly", L"makeronly.exe", L"记事本程序", kBlack},  // deciphered, padding gone
        {L"plain", L"plain", L"不带扩展名", kBlack},
        {L"MAKERONLY.EXE", L"MAKERONLY.EXE", L"记事本程序", kBlack},
        {L"o'neil", L"o'neil.exe", L"带引号", kBlack},
    };
    for (const Case& c : cases) {
        Form().ShowProcessInfo(c.typed);
        EXPECT_EQ(Name(), c.shownName) << c.typed;
        EXPECT_EQ(Description(), c.description) << c.typed;
        EXPECT_EQ(ui::GetForeColor(DescriptionBox()), c.colour) << c.typed;
        EXPECT_EQ(ui::GetForeColor(NameBox()), c.colour) << c.typed;
        EXPECT_FALSE(Visible(Form().fraSearch)) << c.typed;
    }
    Form().ShowProcessInfo(L"nowhere.exe");
    EXPECT_EQ(Description(), kNotFound);
    EXPECT_EQ(ui::GetForeColor(DescriptionBox()), kBlue);
    EXPECT_TRUE(Visible(Form().fraSearch));
    Form().ShowProcessInfo(L"both.exe");
    EXPECT_FALSE(Visible(Form().fraSearch));  // a later find hides the search again
}

TEST_F(Knowledge, OddEntriesAndMissingFilesNeitherFailNorEndTheTool) {
    Maker({{L"nodesc.exe", std::nullopt, L"Y"}, {L"raw.exe", L"abc", L"N", true}, {L"novirus.exe", L"无标记"}});
    Form().ShowProcessInfo(L"nodesc.exe");
    EXPECT_EQ(Description(), L"");  // Null reads as empty
    EXPECT_EQ(ui::GetForeColor(DescriptionBox()), kRed);
    Form().ShowProcessInfo(L"raw.exe");
    EXPECT_EQ(Description(), L"abc");  // will not decipher: shown as stored
    Form().ShowProcessInfo(L"novirus.exe");
    EXPECT_EQ(Description(), L"无标记");
    EXPECT_EQ(ui::GetForeColor(DescriptionBox()), kBlack);

    // No user file: the maker's file still answers; neither file: not found.
    Form().ShowProcessInfo(L"nodesc");
    EXPECT_EQ(Name(), L"nodesc.exe");
    modMain::g_dbMain.reset();
    Form().ShowProcessInfo(L"nodesc.exe");
    EXPECT_EQ(Description(), kNotFound);
    MessageBoxAnswerer boxes;
    Form().cmdPrcAdd_Click();
    Type(NameBox(), L"x.exe");
    Type(DescriptionBox(), L"无处可存");
    Form().cmdPrcAdd_Click();
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    ExpectBox(boxes.Boxes()[0], L"抱歉！无法添加该记录。", MB_ICONINFORMATION);
}

TEST_F(Knowledge, FindAsksForANameAndLeavesOnlyTheDescriptionColoured) {
    User({{L"mine.exe", L"我的程序", L"Y"}});
    for (const std::wstring typed : {L"", L"请输入您要查询的进程名！"}) {
        Type(NameBox(), typed);
        Type(DescriptionBox(), L"旧的");
        Form().cmdPrcFind_Click();
        EXPECT_EQ(Name(), L"请输入您要查询的进程名！");
        EXPECT_EQ(Description(), L"");  // nothing looked up
    }
    Type(NameBox(), L"mine");
    Form().cmdPrcFind_Click();
    EXPECT_EQ(Name(), L"mine.exe");
    EXPECT_EQ(ui::GetForeColor(NameBox()), kBlack);
    EXPECT_EQ(ui::GetForeColor(DescriptionBox()), kRed);
    // Enter in the name box finds while it has the focus.
    Form().txtPrcName_GotFocus();
    Type(NameBox(), L"nowhere");
    SendMessageW(NameBox(), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(Description(), kNotFound);
    Form().txtPrcName_LostFocus();
    EXPECT_FALSE(Form().FindIsDefault());
}

TEST_F(Knowledge, AddAndEditWriteTheUsersFileWithTheirTexts) {
    Maker({{L"makeronly.exe", L"厂商描述", L"Y"}});
    User({{L"mine.exe", L"我的程序", L"N"}});
    MessageBoxAnswerer boxes;

    Form().cmdPrcAdd_Click();  // view -> adding
    EXPECT_EQ(ui::GetText(Form().cmdPrcAdd), L"确定");
    EXPECT_EQ(Name(), L"");
    EXPECT_FALSE(ReadOnly(DescriptionBox()));
    EXPECT_TRUE(Visible(Form().picLevel));
    EXPECT_EQ(ui::GetCheck(Form().optLevel[1]), 1);

    Type(DescriptionBox(), L"只有描述");
    Form().cmdPrcAdd_Click();  // name missing
    EXPECT_EQ(Name(), kFillIn);
    EXPECT_EQ(ui::GetForeColor(NameBox()), kBlue);
    EXPECT_EQ(Description(), L"只有描述");
    ExpectViewMode();
    Form().cmdPrcAdd_Click();
    EXPECT_EQ(Name(), L"");
    EXPECT_EQ(Description(), L"");
    Form().cmdPrcAdd_Click();  // both missing
    EXPECT_EQ(Name(), kFillIn);
    EXPECT_EQ(Description(), kFillIn);
    EXPECT_TRUE(boxes.Boxes().empty());

    Form().cmdPrcAdd_Click();
    Type(NameBox(), L"makeronly.exe");
    Type(DescriptionBox(), L"重复");
    Form().cmdPrcAdd_Click();  // the maker's file has it
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    ExpectBox(boxes.Boxes()[0], L"该记录已存在，不能重复添加。若需修改描述，请使用修改键。", MB_ICONINFORMATION);
    ExpectViewMode();

    Form().cmdPrcAdd_Click();
    Type(NameBox(), L"new.exe");
    Type(DescriptionBox(), L"新进程");
    ui::SetCheckState(Form().optLevel[1], 0);
    ui::SetCheckState(Form().optLevel[2], 1);
    Form().cmdPrcAdd_Click();
    ASSERT_EQ(boxes.Boxes().size(), 2u);
    EXPECT_EQ(boxes.Boxes()[1].title, L"添加");
    EXPECT_EQ(boxes.Boxes()[1].text, L"添加成功！");
    Form().ShowProcessInfo(L"new");
    EXPECT_EQ(Description(), L"新进程");
    EXPECT_EQ(ui::GetForeColor(DescriptionBox()), kRed);

    // Editing a name only the maker's file knows creates the user's entry.
    Form().ShowProcessInfo(L"makeronly.exe");
    Form().cmdPrcEdit_Click();
    EXPECT_EQ(ui::GetText(Form().cmdPrcEdit), L"确定");
    EXPECT_EQ(Description(), L"厂商描述");  // kept for editing
    Type(DescriptionBox(), L"我改写的");
    Form().cmdPrcEdit_Click();
    ASSERT_EQ(boxes.Boxes().size(), 3u);
    EXPECT_EQ(boxes.Boxes()[2].title, L"修改");
    EXPECT_EQ(boxes.Boxes()[2].text, L"修改成功！");
    ExpectViewMode();
    Form().ShowProcessInfo(L"makeronly.exe");
    EXPECT_EQ(Description(), L"我改写的");
    EXPECT_EQ(ui::GetForeColor(DescriptionBox()), kBlack);

    // The filler text counts as empty when editing.
    Form().cmdPrcEdit_Click();
    Type(DescriptionBox(), L"  请填写完整！ ");
    Form().cmdPrcEdit_Click();
    EXPECT_EQ(ui::GetForeColor(DescriptionBox()), kBlue);
    EXPECT_EQ(boxes.Boxes().size(), 3u);

    Form().cmdPrcEdit_Click();
    Type(NameBox(), L"mine.exe");
    Type(DescriptionBox(), L"改过的");
    Form().cmdPrcEdit_Click();
    auto rows = UserFileRows();
    ASSERT_EQ(rows.size(), 3u);  // mine.exe replaced, new.exe and makeronly.exe added
    std::map<std::wstring, std::wstring> byName;
    for (const auto& r : rows) byName[r[0]] = r[1] + L"|" + r[2];
    EXPECT_EQ(byName[L"mine.exe"], L"改过的|N");
    EXPECT_EQ(byName[L"new.exe"], L"新进程|Y");
    EXPECT_EQ(byName[L"makeronly.exe"], L"我改写的|N");
}

TEST_F(Knowledge, AFailedWriteKeepsTheOldEntryAndIsReported) {
    auto edit = [](const std::wstring& text) {
        Form().ShowProcessInfo(L"keep.exe");
        Form().cmdPrcEdit_Click();
        Type(DescriptionBox(), text);
        Form().cmdPrcEdit_Click();
    };
    // The disk fills up after k more writes, for every k until the edit succeeds.
    bool succeeded = false;
    for (long k = 0; k < 40 && !succeeded; ++k) {
        SCOPED_TRACE(k);
        MakeUserFile({{L"keep.exe", L"原来的描述", L"N"}, {L"other.exe", L"别的", L"Y"}});
        auto file = std::make_unique<FailingFile>(dir_.File(L"userdb.mdb"));
        FailingFile* faulty = file.get();
        modMain::g_dbUser = dao::DBEngine::OpenDatabase(std::move(file));
        faulty->writesLeft = k;
        MessageBoxAnswerer boxes;
        edit(L"改过的");
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        succeeded = boxes.Boxes()[0].text == L"修改成功！";
        std::wstring expected = L"改过的";
        if (!succeeded) {
            ExpectBox(boxes.Boxes()[0], L"抱歉！无法修改该记录，原有记录保持不变。", MB_ICONINFORMATION);
            Form().ShowProcessInfo(L"keep.exe");
            EXPECT_EQ(Description(), L"原来的描述");
            // Room again: the next edit is saved, and it is what the panel shows.
            faulty->writesLeft = -1;
            edit(L"再改一次");
            ASSERT_EQ(boxes.Boxes().size(), 2u);
            EXPECT_EQ(boxes.Boxes()[1].text, L"修改成功！");
            expected = L"再改一次";
        }
        Form().ShowProcessInfo(L"keep.exe");
        EXPECT_EQ(Description(), expected);

        // On disk: one row per name, holding the last saved text.
        std::multimap<std::wstring, std::wstring> entries;
        for (const auto& r : UserFileRows()) entries.insert({r[0], r[1]});
        EXPECT_EQ(entries.count(L"other.exe"), 1u);
        ASSERT_EQ(entries.count(L"keep.exe"), 1u);
        EXPECT_EQ(entries.find(L"keep.exe")->second, expected);
    }
    EXPECT_TRUE(succeeded);

    // Add reports a failed append the same way.
    MakeUserFile({});
    auto file = std::make_unique<FailingFile>(dir_.File(L"userdb.mdb"));
    file->writesLeft = 0;
    modMain::g_dbUser = dao::DBEngine::OpenDatabase(std::move(file));
    MessageBoxAnswerer boxes;
    Form().cmdPrcAdd_Click();
    Type(NameBox(), L"new.exe");
    Type(DescriptionBox(), L"加不了");
    Form().cmdPrcAdd_Click();
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    ExpectBox(boxes.Boxes()[0], L"抱歉！无法添加该记录。", MB_ICONINFORMATION);
    EXPECT_TRUE(UserFileRows().empty());
}

TEST_F(Knowledge, SweepEndsByTheRowColourAndNeverTheToolItself) {
    const std::wstring own = vb::AppEXEName() + L".exe";
    Maker({{L"mxwhite.exe", L"", L"Y"}, {L"mxbad.exe", L"", L"N"}, {own, L"", L"Y"}});
    User({{L"mxwhite.exe", L"", L"N"}, {L"mxbad.exe", L"", L"Y"}});
    Child white(L"", CopyOfChild(dir_, L"mxwhite.exe"));
    Child bad(L"", CopyOfChild(dir_, L"mxbad.exe"));
    ASSERT_TRUE(white.WaitReady());
    ASSERT_TRUE(bad.WaitReady());
    AddProcessRow(white.Pid(), L"mxwhite.exe");
    AddProcessRow(bad.Pid(), L"mxbad.exe");
    AddProcessRow(GetCurrentProcessId(), own);

    MessageBoxAnswerer boxes;
    Sweep();
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    ExpectBox(boxes.Boxes()[0], Ended(L"mxbad.exe", bad.Pid()), MB_ICONINFORMATION);
    EXPECT_TRUE(bad.WaitExit(5000));
    EXPECT_EQ(Row(bad.Pid()), 0);
    EXPECT_EQ(WaitForSingleObject(white.Process(), 0), static_cast<DWORD>(WAIT_TIMEOUT));  // user "N" wins
    EXPECT_GT(Row(white.Pid()), 0);
    EXPECT_GT(Row(GetCurrentProcessId()), 0);
    EXPECT_TRUE(Form().MenuChecked(frmMainMenu::mnuSettingAntiVirus));
    EXPECT_EQ(vb::GetSetting(L"Morvix", L"Setting", L"AntiVirus"), L"1");
    Form().SetCheckValue(Form().chkAntiVirus, 0);
    EXPECT_FALSE(Form().MenuChecked(frmMainMenu::mnuSettingAntiVirus));
    EXPECT_EQ(vb::GetSetting(L"Morvix", L"Setting", L"AntiVirus"), L"0");
    RemoveRow(white.Pid());
}

TEST_F(Knowledge, SweepFindsRowsAgainAfterEveryBox) {
    User({{L"mxghost.exe", L"", L"Y"}, {L"mxbad1.exe", L"", L"Y"}, {L"mxbad2.exe", L"", L"Y"},
          {L"mxbad3.exe", L"", L"Y"}, {L"mxbad4.exe", L"", L"Y"}});
    constexpr DWORD ghost = 999993, innocent = 999994;  // a process that cannot be ended; a harmless row
    MessageBoxAnswerer boxes;

    // One that cannot be ended is reported, the next one ended, and the first
    // reported again when the sweep starts over.
    Child bad1(L"", CopyOfChild(dir_, L"mxbad1.exe"));
    ASSERT_TRUE(bad1.WaitReady());
    AddProcessRow(ghost, L"mxghost.exe");
    AddProcessRow(bad1.Pid(), L"mxbad1.exe");
    Sweep();
    ASSERT_EQ(boxes.Boxes().size(), 3u);
    EXPECT_EQ(boxes.Boxes()[0].text, NotEnded(L"mxghost.exe", ghost));
    EXPECT_EQ(boxes.Boxes()[0].icon, static_cast<UINT>(MB_ICONEXCLAMATION));
    EXPECT_EQ(boxes.Boxes()[1].text, Ended(L"mxbad1.exe", bad1.Pid()));
    EXPECT_EQ(boxes.Boxes()[2].text, NotEnded(L"mxghost.exe", ghost));
    EXPECT_TRUE(bad1.WaitExit(5000));

    // Rows that go while a box is up are neither ended nor removed by the sweep.
    boxes.Clear();
    Child bad2(L"", CopyOfChild(dir_, L"mxbad2.exe"));
    Child bad3(L"", CopyOfChild(dir_, L"mxbad3.exe"));
    ASSERT_TRUE(bad2.WaitReady());
    ASSERT_TRUE(bad3.WaitReady());
    AddProcessRow(bad2.Pid(), L"mxbad2.exe");
    AddProcessRow(bad3.Pid(), L"mxbad3.exe");
    AddProcessRow(innocent, L"mxinnocent.exe");
    {
        WhileBoxUp prune([&] {  // as a monitor tick inside the first box would
            RemoveRow(ghost);
            RemoveRow(bad2.Pid());
        });
        Sweep();
    }
    ASSERT_EQ(boxes.Boxes().size(), 2u);
    EXPECT_EQ(boxes.Boxes()[0].text, NotEnded(L"mxghost.exe", ghost));
    EXPECT_EQ(boxes.Boxes()[1].text, Ended(L"mxbad3.exe", bad3.Pid()));
    EXPECT_EQ(WaitForSingleObject(bad2.Process(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(bad3.WaitExit(5000));

    // The ended process's row already gone during its box: no other row goes.
    boxes.Clear();
    Child bad4(L"", CopyOfChild(dir_, L"mxbad4.exe"));
    ASSERT_TRUE(bad4.WaitReady());
    AddProcessRow(bad4.Pid(), L"mxbad4.exe");
    const int before = List().Count();
    {
        WhileBoxUp prune([&] { RemoveRow(bad4.Pid()); });
        Sweep();
    }
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(List().Count(), before - 1);
    EXPECT_GT(Row(innocent), 0);
}

TEST_F(Knowledge, SweepStopsWhenTheOptionGoesOffDuringItsBox) {
    User({{L"mxbad1.exe", L"", L"Y"}, {L"mxbad2.exe", L"", L"Y"}});
    Child bad1(L"", CopyOfChild(dir_, L"mxbad1.exe"));
    Child bad2(L"", CopyOfChild(dir_, L"mxbad2.exe"));
    ASSERT_TRUE(bad1.WaitReady());
    ASSERT_TRUE(bad2.WaitReady());
    AddProcessRow(bad1.Pid(), L"mxbad1.exe");
    AddProcessRow(bad2.Pid(), L"mxbad2.exe");
    {
        // The first box is up when the option is chosen off, as from the tray menu.
        EnterInBoxes enter([] { Command(frmMainMenu::mnuSettingAntiVirus); });
        Sweep();
        EXPECT_EQ(enter.Texts(), std::vector<std::wstring>{Ended(L"mxbad1.exe", bad1.Pid())});
    }
    EXPECT_TRUE(bad1.WaitExit(5000));
    EXPECT_FALSE(bad2.WaitExit(200)) << "nothing more is ended once the option is off";
    EXPECT_GT(Row(bad2.Pid()), 0);
    EXPECT_EQ(ui::GetCheck(Form().chkAntiVirus), 0);
    RemoveRow(bad2.Pid());
}

TEST_F(Knowledge, SearchAddressesCarryTheNamePercentEncoded) {
    EXPECT_EQ(frmMain::BaiduSearchAddress(L"a&b#c%d e.exe"),
              L"https://www.baidu.com/baidu?word=a%26b%23c%25d%20e.exe%20%BD%F8%B3%CC");
    EXPECT_EQ(frmMain::BaiduSearchAddress(L"记事本.exe"),
              L"https://www.baidu.com/baidu?word=%BC%C7%CA%C2%B1%BE.exe%20%BD%F8%B3%CC");
    const std::wstring tail = L"+%E8%BF%9B%E7%A8%8B&btnG=Google+%E6%90%9C%E7%B4%A2&lr=";
    EXPECT_EQ(frmMain::GoogleSearchAddress(L"a&b#c%d e.exe"),
              L"https://www.google.com/search?biw=1003&hl=zh-CN&q=a%26b%23c%25d%20e.exe" + tail);
    EXPECT_EQ(frmMain::GoogleSearchAddress(L"记事本.exe"),
              L"https://www.google.com/search?biw=1003&hl=zh-CN&q=%E8%AE%B0%E4%BA%8B%E6%9C%AC.exe" + tail);

    Type(NameBox(), L"q&a.exe");
    Form().lblSearchBaidu_Click();
    Form().lblSearchGoogle_Click();
    Form().lblProcessCompleteLinker_Click();
    ASSERT_EQ(opened_.size(), 3u);
    EXPECT_EQ(opened_[0].address, frmMain::BaiduSearchAddress(L"q&a.exe"));
    EXPECT_EQ(opened_[0].owner, nullptr);
    EXPECT_EQ(opened_[0].show, SW_MAXIMIZE);
    EXPECT_EQ(opened_[1].address, frmMain::GoogleSearchAddress(L"q&a.exe"));
    EXPECT_EQ(opened_[2].address, L"http://www.morvix.example/Process/submit.html");
    EXPECT_EQ(opened_[2].owner, Form().Hwnd());
    EXPECT_EQ(opened_[2].show, SW_HIDE);
}

TEST_F(Knowledge, TabsOpenOnePanelAtATime) {
    frmMain& f = Form();
    f.imgPopupFormX_Click(0);
    f.imgPopupFormX_Click(1);
    RECT page = ui::ControlRectTwips(f.picTab[1]);
    auto listWidth = [&] {
        RECT r = ui::ControlRectTwips(List().Hwnd());
        return r.right - r.left;
    };
    const long slack = 2 * vb::TwipsPerPixelX();  // pixel rounding
    EXPECT_NEAR(listWidth(), page.right - page.left - 280, slack);

    SendMessageW(f.chkPopupForm[1], BM_CLICK, 0, 0);  // "模块"
    EXPECT_TRUE(IsWindowVisible(f.picPopupForm[1]));
    EXPECT_FALSE(IsWindowVisible(f.picPopupForm[0]));
    EXPECT_TRUE(IsWindowVisible(f.picPopupFormLine[1]));
    EXPECT_NEAR(listWidth(), ui::ControlRectTwips(f.picPopupForm[1]).left - 200, slack);

    SendMessageW(f.chkPopupForm[0], BM_CLICK, 0, 0);  // "描述" closes "模块"
    EXPECT_EQ(ui::GetCheck(f.chkPopupForm[1]), 0);
    EXPECT_FALSE(IsWindowVisible(f.picPopupForm[1]));
    EXPECT_FALSE(IsWindowVisible(f.picPopupFormLine[1]));
    EXPECT_TRUE(IsWindowVisible(f.picPopupForm[0]));
    EXPECT_EQ(GetFocus(), f.txtPrcName);

    f.lvwProcess_DblClick();  // closes the description panel
    EXPECT_EQ(ui::GetCheck(f.chkPopupForm[0]), 0);
    EXPECT_FALSE(IsWindowVisible(f.picPopupForm[0]));
    EXPECT_NEAR(listWidth(), page.right - page.left - 280, slack);
    f.lvwProcess_DblClick();
    EXPECT_EQ(ui::GetCheck(f.chkPopupForm[0]), 1);
    EXPECT_TRUE(IsWindowVisible(f.picPopupForm[0]));

    // Hovering over an unticked tab underlines it until the pointer leaves.
    f.chkPopupForm_MouseMove(1, 30, 30);
    EXPECT_EQ(GetCapture(), f.chkPopupForm[1]);
    EXPECT_TRUE(IsWindowVisible(f.picPopupFormLine[1]));
    f.chkPopupForm_MouseMove(1, -30, 30);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_FALSE(IsWindowVisible(f.picPopupFormLine[1]));
}

TEST_F(Knowledge, ARowClickEndsEditingAndShowsTheRowsDescription) {
    User({{L"mine.exe", L"我的程序", L"Y"}});
    Form().cmdPrcAdd_Click();
    ClickRow(AddProcessRow(999993, L"mine.exe"));
    ExpectViewMode();
    EXPECT_EQ(Name(), L"mine.exe");
    EXPECT_EQ(Description(), L"我的程序");
    EXPECT_EQ(ui::GetForeColor(DescriptionBox()), kRed);
}
