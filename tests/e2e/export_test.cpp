// The three result files of a run, byte for byte, on either build.
#include "e2e/e2e_fixture.h"
#include "paylib/record.h"

#define AT(name) offsetof(UserAuthInt, name)

TEST_F(EndToEnd, ResultFilesByteForByte)
{
    Answer(AT(handle), "\xff\xff\xff\xff");
    Answer(AT(responseCode), "0000");          // full width, no NUL
    Answer(AT(cardType), "VISA");
    Answer(AT(pan), "4111********1111");
    Answer(AT(rrn), "1234567890123");         // full width
    Answer(AT(authCode), "A1B2C3");
    Answer(AT(text_msg), "APPROVED\nTHANK YOU");
    Answer(AT(ApplicationLabel), "VISA CREDIT");
    Answer(AT(system_res), std::string("\x07\x00\x00\x00", 4));
    Answer(AT(enc_data), "E\xe9");             // a high byte passes unchanged

    RunResult r = Run("/o1 /a000221 /c643 /iT1 /bINV-9");
    EXPECT_EQ(r.exitCode, 0u);

    EXPECT_EQ(Read(exchange / "output.dat"),
              "0000\r\n4111********1111\r\nT1\r\nA1B2C3\r\nVISA CREDIT\r\n"
              "APPROVED\r\nTHANK YOU\r\nINV-9\r\n\r\nVISA\r\n221\r\nE\xe9\r\n1234567890123");
    EXPECT_EQ(Read(exchange / "output_ex.dat"),
              "RC=0000\r\nPAN=4111********1111\r\nTID=T1\r\nAUTH_CODE=A1B2C3\r\n"
              "APP_LABLE=VISA CREDIT\r\nTEXT_MSG=APPROVED\r\nTHANK YOU\r\nTRACE_ID=INV-9\r\n"
              "CARD_TYPE=VISA\r\nAMOUNT=221\r\nENC_DATA=E\xe9\r\nRRN=1234567890123");
    EXPECT_EQ(Read(exchange / "output_ex.txt"),
              "handle =4294967295\noperType =1\nrfu =\npan =4111********1111\nexpiry =\n"
              "pay_acc =\nadditional_payment_data =\namount =000221\noriginal_amount =\n"
              "currency =643\nterminalID =T1\nrrn =1234567890123\nauthCode =A1B2C3\n"
              "responseCode =0000\ncardType =VISA\ndate =\ntime =\npayment_data =\n"
              "data_to_print =\nhome_operator =\nAID =\nApplicationLabel =VISA CREDIT\n"
              "TVR =\nsystem_res =7\nenc_data =E\xe9\nTraceID =INV-9\n");
}

TEST_F(EndToEnd, ResultFileThatIsAFolderStopsTheRunBeforeTheCall)
{
    Write(exchange / "output.dat", "earlier run");
    fs::create_directories(exchange / "output_ex.dat");
    RunResult r = Run("/o1 /a5");
    EXPECT_EQ(r.exitCode, 2u);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text.rfind("Unable to create file " + (exchange / "output_ex.dat").string() + "! ", 0), 0u)
        << r.boxes[0].text;
    EXPECT_FALSE(LibraryCalled());
    EXPECT_EQ(Read(exchange / "output.dat"), "earlier run");
}

TEST_F(EndToEnd, MissingExchangeFolderStopsTheRunBeforeTheCall)
{
    SetSetting("ExchangePath", (base / "absent").string() + '\0');
    RunResult r = Run("/o1");
    EXPECT_EQ(r.exitCode, 2u);
    ASSERT_EQ(r.boxes.size(), 1u);
    // ERROR_PATH_NOT_FOUND, ENOENT
    EXPECT_EQ(r.boxes[0].text, "Unable to create file " + (base / "absent" / "output.dat").string() +
                                   (kWindows ? "! 3 (3)" : "! 2 (2)"));
    EXPECT_EQ(r.boxes[0].caption, "ERROR");
    EXPECT_FALSE(LibraryCalled());
    EXPECT_FALSE(fs::exists(base / "absent"));
}

TEST_F(EndToEnd, AmountOfThirteenZerosIsEmpty)
{
    // The field is full, with the original amount right behind it.
    Run("/o1 /a0000000000000 /h0005");
    EXPECT_EQ(Read(exchange / "output.dat"), OutputDatWithAmount(""));
    EXPECT_EQ(Read(exchange / "output_ex.dat"), "ENC_DATA=");
}
