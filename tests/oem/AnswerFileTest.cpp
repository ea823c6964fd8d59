// Answer files: the OEMInformation element read and written through libxml2, every other byte
// of the document kept.
#include "core/Exceptions.h"
#include "oem/AnswerFile.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kHead = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                          "<unattend xmlns=\"urn:schemas-microsoft-com:unattend\">\n";
// libxml2 writes a start tag's namespace declarations before its attributes.
const std::string kComponentOpen =
    "        <component xmlns:wcm=\"http://schemas.microsoft.com/WMIConfig/2002/State\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "name=\"Microsoft-Windows-Shell-Setup\" processorArchitecture=\"x86\" "
    "publicKeyToken=\"31bf3856ad364e35\" language=\"neutral\" versionScope=\"nonSxS\">\n";
const std::string kOobe = "    <settings pass=\"oobeSystem\">\n"
                          "        <!-- the first user -->\n"
                          "        <component name=\"Microsoft-Windows-International-Core\" "
                          "processorArchitecture=\"x86\">\n"
                          "            <UILanguage>de-DE</UILanguage>\n"
                          "        </component>\n"
                          "    </settings>\n";

std::string oemBlock(const std::string& indent, const std::string& inner)
{
    return indent + "<OEMInformation>\n" + inner + indent + "</OEMInformation>\n";
}

} // namespace

TEST(AnswerFileTest, SetWritesOnlyTheOemElementAndKeepsEveryOtherByte)
{
    oem::AnswerOemInformation makerAndModel;
    makerAndModel.manufacturer = "Quillmere & Söhne";
    makerAndModel.model = "Tower <7>";
    const std::string newItems = "                <Manufacturer>Quillmere &amp; Söhne</Manufacturer>\n"
                                 "                <Model>Tower &lt;7&gt;</Model>\n";
    struct Case {
        const char* what;
        std::string before;
        std::string after;
        std::string pass;
    };
    const Case cases[] = {
        {"no specialize pass: made before a later pass, comments and components kept",
         kHead + "    <!-- made by hand -->\n" + kOobe + "</unattend>\n",
         kHead + "    <!-- made by hand -->\n    <settings pass=\"specialize\">\n" + kComponentOpen +
             oemBlock("            ", newItems) + "        </component>\n    </settings>\n" + kOobe +
             "</unattend>\n",
         "specialize"},
        {"a Shell-Setup component without the element: it goes in alphabetical place",
         kHead + "    <settings pass=\"specialize\">\n" + kComponentOpen +
             "            <ComputerName>*</ComputerName>\n"
             "            <TimeZone>UTC</TimeZone>\n        </component>\n    </settings>\n" +
             kOobe + "</unattend>\n",
         kHead + "    <settings pass=\"specialize\">\n" + kComponentOpen +
             "            <ComputerName>*</ComputerName>\n" + oemBlock("            ", newItems) +
             "            <TimeZone>UTC</TimeZone>\n        </component>\n    </settings>\n" +
             kOobe + "</unattend>\n",
         "specialize"},
        {"the element in oobeSystem, with a prefix and CR LF: changed where it is",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
         "<u:unattend xmlns:u=\"urn:schemas-microsoft-com:unattend\">\r\n"
         "  <u:settings pass=\"oobeSystem\">\r\n"
         "    <u:component name=\"Microsoft-Windows-Shell-Setup\">\r\n"
         "      <u:OEMInformation>\r\n"
         "        <u:Logo>C:\\Windows\\oem.bmp</u:Logo>\r\n"
         "        <u:Model>Old</u:Model>\r\n"
         "        <!-- keep -->\r\n"
         "        <u:SupportURL>http://example.com/</u:SupportURL>\r\n"
         "      </u:OEMInformation>\r\n"
         "    </u:component>\r\n"
         "  </u:settings>\r\n"
         "</u:unattend>",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
         "<u:unattend xmlns:u=\"urn:schemas-microsoft-com:unattend\">\r\n"
         "  <u:settings pass=\"oobeSystem\">\r\n"
         "    <u:component name=\"Microsoft-Windows-Shell-Setup\">\r\n"
         "      <u:OEMInformation>\r\n"
         "        <u:Logo>C:\\Windows\\oem.bmp</u:Logo>\r\n"
         "        <u:Manufacturer>Quillmere &amp; Söhne</u:Manufacturer>\r\n"
         "        <u:Model>Tower &lt;7&gt;</u:Model>\r\n"
         "        <!-- keep -->\r\n"
         "        <u:SupportURL>http://example.com/</u:SupportURL>\r\n"
         "      </u:OEMInformation>\r\n"
         "    </u:component>\r\n"
         "  </u:settings>\r\n"
         "</u:unattend>",
         "oobeSystem"},
        {"no declaration, an empty root: nothing is added but the element",
         "<unattend xmlns=\"urn:schemas-microsoft-com:unattend\"/>\n",
         "<unattend xmlns=\"urn:schemas-microsoft-com:unattend\">\n"
         "    <settings pass=\"specialize\">\n" +
             std::string(kComponentOpen).replace(kComponentOpen.find("x86"), 3, "amd64") +
             oemBlock("            ", newItems) + "        </component>\n    </settings>\n" +
             "</unattend>\n",
         "specialize"},
    };
    for (const Case& c : cases) {
        oem::AnswerFile file(c.before, "unattend.xml");
        file.write(makerAndModel);
        EXPECT_EQ(file.bytes(), c.after) << c.what;
        EXPECT_EQ(file.pass(), c.pass) << c.what;
        // What was written reads back from the file's bytes.
        const oem::AnswerFile again(file.bytes(), "unattend.xml");
        EXPECT_EQ(again.read().manufacturer, makerAndModel.manufacturer) << c.what;
        EXPECT_EQ(again.read().model, makerAndModel.model) << c.what;
    }
}

TEST(AnswerFileTest, ReadsEveryItemAndKeepsAnEncodingOtherThanUtf8)
{
    const std::string latin1 =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
        "<unattend xmlns=\"urn:schemas-microsoft-com:unattend\"><settings pass=\"specialize\">"
        "<component name=\"Microsoft-Windows-Shell-Setup\"><OEMInformation>"
        "<HelpCustomized>false</HelpCustomized><Logo>L</Logo><Manufacturer>M\xFC</Manufacturer>"
        "<Model>Mo</Model><SupportHours>9-5</SupportHours><SupportPhone>555</SupportPhone>"
        "<SupportURL>http://x/</SupportURL></OEMInformation></component></settings></unattend>";
    oem::AnswerFile file(latin1, "a.xml");
    const oem::AnswerOemInformation items = file.read();
    EXPECT_EQ(items.helpCustomized, "false");
    EXPECT_EQ(items.logo, "L");
    EXPECT_EQ(items.manufacturer, "M\xC3\xBC");
    EXPECT_EQ(items.model, "Mo");
    EXPECT_EQ(items.supportHours, "9-5");
    EXPECT_EQ(items.supportPhone, "555");
    EXPECT_EQ(items.supportUrl, "http://x/");
    oem::AnswerOemInformation change;
    change.model = "\xC3\xA9t\xC3\xA9";
    file.write(change);
    std::string expected = latin1;
    expected.replace(expected.find("<Model>Mo"), 9, "<Model>\xE9t\xE9");
    EXPECT_EQ(file.bytes(), expected);
}

TEST(AnswerFileTest, RefusesWhatIsNotAnAnswerFileOrWouldBeAmbiguous)
{
    const std::string twoPasses =
        "<unattend xmlns=\"urn:schemas-microsoft-com:unattend\">"
        "<settings pass=\"specialize\"><component name=\"Microsoft-Windows-Shell-Setup\">"
        "<OEMInformation/></component></settings>"
        "<settings pass=\"oobeSystem\"><component name=\"Microsoft-Windows-Shell-Setup\">"
        "<OEMInformation/></component></settings></unattend>";
    struct Case {
        std::string bytes;
        const char* message;
    };
    const Case cases[] = {
        {"<unattend xmlns=\"urn:schemas-microsoft-com:unattend\"><settings>",
         "a.xml is not well-formed XML (line 1: "},
        {"", "a.xml is not well-formed XML (line "},
        {"<unattend/>", "a.xml is not an answer file (its root element is not unattend of "
                        "urn:schemas-microsoft-com:unattend)"},
        {"<html xmlns=\"urn:schemas-microsoft-com:unattend\"/>", "a.xml is not an answer file"},
        {twoPasses, "a.xml has OEMInformation in more than one pass (specialize, oobeSystem); "
                    "it is left as it is"},
    };
    for (const Case& c : cases) {
        try {
            oem::AnswerFile file(c.bytes, "a.xml");
            ADD_FAILURE() << "accepted: " << c.bytes;
        } catch (const Exception& error) {
            EXPECT_TRUE(std::string(error.what()).starts_with(c.message)) << error.what();
        }
    }
    // Text that XML cannot carry changes nothing.
    const std::string plain = "<unattend xmlns=\"urn:schemas-microsoft-com:unattend\"/>";
    for (const char* bad : {"\xFF\xFE", "bell\x07"}) {
        oem::AnswerFile file(plain, "a.xml");
        oem::AnswerOemInformation items;
        items.supportPhone = bad;
        EXPECT_THROW(file.write(items), Exception);
        EXPECT_EQ(file.bytes(), plain);
        EXPECT_EQ(file.pass(), "");
    }
}
