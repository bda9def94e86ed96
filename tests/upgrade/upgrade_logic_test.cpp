// Pure logic of the upgrade service: shell words and psu.cfg lines.
#include <gtest/gtest.h>

#include <string>

#include "shell.h"
#include "upgrade_record.h"

TEST(ShellWord, OrdinaryTextsStayAsTheyAreOthersBecomeOneQuotedWord)
{
	struct word_case {
		const char *text;
		const char *word;
	};
	const word_case cases[] = {
		{"/userdata/upgrade/G1.bin", "/userdata/upgrade/G1.bin"},
		{"bocoPsu\n", "bocoPsu\n"},
		{"gosPower-v2,a=b@c%d+e:f_g", "gosPower-v2,a=b@c%d+e:f_g"},
		{"G1.bin;touch x", "'G1.bin;touch x'"},
		{"G$(reboot).bin", "'G$(reboot).bin'"},
		{"gosPower`id`\n", "'gosPower`id`'\n"},
		{"it's", "'it'\\''s'"},
		{"a\nb", "'a\nb'"},
		{"", "''"},
	};
	for (const word_case &c : cases) {
		char word[kCommandSize];
		ASSERT_TRUE(shell_word(word, sizeof(word), c.text)) << c.text;
		EXPECT_STREQ(word, c.word);
	}
	char small[8];
	EXPECT_TRUE(shell_word(small, sizeof(small), "1234567"));
	EXPECT_FALSE(shell_word(small, sizeof(small), "12345678"));
	EXPECT_FALSE(shell_word(small, sizeof(small), "12 456"));
	EXPECT_STREQ(small, "") << "a word that does not fit leaves nothing to run";
}

TEST(PsuCfgLines, KeysCountFromTheFirstTypeLineAndValuesRunToTheLineEnd)
{
	upgrade_record rec{};
	const char *lines[] = {
		"busNum=7\n",                                       // before the type: ignored
		"fileMD5=0123456789abcdef0123456789abcdef-and-more\n", // kept even before the type, cut to 35
		"type=gosPowerX2 rev\n",
		"type=bocoPsu\n", // only the first type counts
		"address=344\n",
		"busNum=\n", // no value
		"forceUpgrade=True\n",
		" busNum=5\n", // keys start their line
	};
	for (const char *line : lines)
		upgradesvc_parse_cfg_line(rec, line);
	EXPECT_EQ(rec.fw_class, kClassGosPower);
	EXPECT_STREQ(rec.acPsuType, "gosPowerX2 rev\n");
	EXPECT_FALSE(rec.bIsHaveBusNum);
	EXPECT_TRUE(rec.bIsHaveAdress);
	EXPECT_EQ(rec.ucAddress, 88);
	EXPECT_FALSE(rec.bForceUpgrade);
	EXPECT_STREQ(rec.acFileMD5, "0123456789abcdef0123456789abcdef-an");
	EXPECT_STREQ(rec.acFileNameMD5, "");

	upgradesvc_parse_cfg_line(rec, "busNum=12\n");
	upgradesvc_parse_cfg_line(rec, "forceUpgrade=true\n");
	upgradesvc_parse_cfg_line(rec, "fileNameMD5=abc\n");
	EXPECT_TRUE(rec.bIsHaveBusNum);
	EXPECT_EQ(rec.iBusNum, 12);
	EXPECT_TRUE(rec.bForceUpgrade);
	EXPECT_STREQ(rec.acFileNameMD5, "abc\n");
}
