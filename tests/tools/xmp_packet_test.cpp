// SPDX-License-Identifier: MIT
// A photo's XMP packet (rating, hierarchical keywords) goes from every
// format that carries one into every output, once, upright; a JPEG's
// stays within its one segment, or is split into its extended XMP.
#include "xmp_packet.h"

#include <OpenImageIO/filesystem.h>
#include <zlib.h>

#include "cli_fixture.h"
#include "image_file.h"
#include "md5.h"
#include "support/dng_file.h"

namespace lumarex_test {
namespace {

// A packet as photo programs write it: rating and keywords, turned
// (orientation 6, as an attribute and an element), and `padding` spaces
// left for editing in place.
std::string Packet(size_t padding = 0, const std::string& more = "") {
    return "<?xpacket begin=\"\xef\xbb\xbf\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
           "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" "
           "xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" xmlns:lr=\"http://ns.adobe.com/lightroom/1.0/\" "
           "xmp:Rating=\"4\" tiff:Orientation=\"6\">\n"
           "<lr:hierarchicalSubject><rdf:Bag><rdf:li>Places|Europe|Lisbon</rdf:li></rdf:Bag></lr:hierarchicalSubject>\n"
           "<tiff:Orientation> 6 </tiff:Orientation>" +
           more + "</rdf:Description></rdf:RDF></x:xmpmeta>\n" + std::string(padding, ' ') +
           "<?xpacket end=\"w\"?>";
}

// The packet as written back: upright.
std::string Upright(std::string p) {
    p.replace(p.find("tiff:Orientation=\""), 20, "tiff:Orientation=\"1\"");
    p.replace(p.find("<tiff:Orientation> "), 40, "<tiff:Orientation>1</tiff:Orientation>");
    return p;
}

size_t Count(const std::string& in, const std::string& what) {
    size_t n = 0;
    for (size_t at = in.find(what); at != std::string::npos; at = in.find(what, at + 1)) ++n;
    return n;
}

class Xmp : public Cli {
protected:
    // A JPEG of a plain colour with `packet` in an APP1 segment after its
    // start marker.
    fs::path JpegWith(const std::string& packet, const char* name = "in.jpg") {
        const fs::path p = dir / name;
        WriteImage(p, OIIO::ImageSpec(32, 24, 3, OIIO::TypeDesc::UINT8), std::vector<uint16_t>(32 * 24 * 3, 30000));
        std::string file = Slurp(p);
        if (packet.empty()) return p;
        const std::string body = std::string("http://ns.adobe.com/xap/1.0/\0", 29) + packet;
        const size_t n = body.size() + 2;
        file.insert(2, std::string{char(0xFF), char(0xE1), char(n >> 8), char(n & 0xFF)} + body);
        OIIO::Filesystem::write_text_file(p.string(), file);
        return p;
    }

    // The photo at `p` as the command reads it, and its packet.
    static lumarex_cli::Picture ReadPicture(const fs::path& p) {
        lumarex_cli::PhotoReader reader;
        lumarex_cli::Picture pic;
        std::string error, notes;
        EXPECT_TRUE(reader.Open(p.string(), error) && reader.Read(false, pic, notes, error, [](float) { return false; }))
            << p << ": " << error;
        return pic;
    }
    static std::string Read(const fs::path& p) { return ReadPicture(p).xmp; }
};

// From JPEG through every output format and back to JPEG: the packet, set
// upright, comes out of each exactly as it went in, once, and the pixels
// are as they are without it.
TEST_F(Xmp, EveryFormatKeepsThePacketUpright) {
    const std::string packet = Packet(2000);
    fs::path in = JpegWith(packet);
    EXPECT_EQ(Read(in), Upright(packet));
    for (const char* name : {"a.png", "b.tif", "c.webp", "d.heic", "e.jpg"}) {
        const fs::path out = dir / name;
        const Result r = Run("correct " + Quoted(in) + " -o " + Quoted(out) + " --cast off --brighten 0");
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        EXPECT_EQ(Read(out), Upright(packet)) << name;
        EXPECT_EQ(Count(Slurp(out), "Places|Europe|Lisbon"), fs::path(name).extension() == ".png" ? 2u : 1u)
            << name << ": the packet once (and in PNG the image library's text entry)";
        in = out;
    }
    // Turned upright once: a reader of the packet's orientation turns it no
    // more.
    EXPECT_EQ(SpecOf(in).get_int_attribute("Orientation", 1), 1);
    // A JPEG with the packet is the JPEG without it but for the segment.
    const std::string upright = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
                                "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
                                "xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"2\"/></rdf:RDF></x:xmpmeta>";
    for (const auto& [input, output] : {std::pair{JpegWith(upright, "with.jpg"), "with-out.jpg"},
                                        std::pair{JpegWith("", "without.jpg"), "without-out.jpg"}})
        ASSERT_EQ(Run("auto " + Quoted(input) + " -o " + Quoted(dir / output) + " --quiet").status, 0);
    std::string with = Slurp(dir / "with-out.jpg");
    const size_t at = with.find("http://ns.adobe.com/xap/1.0/");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(with.substr(at + 29, upright.size()), upright);
    EXPECT_EQ(with.erase(at - 4, 4 + 29 + upright.size()), Slurp(dir / "without-out.jpg"));
}

// A raw converter's settings come out marked as applied, however the packet
// states them (or does not), and nothing else of the packet changes.
TEST(XmpOfCorrected, MarksRawSettingsApplied) {
    const std::string crs = "xmlns:crs=\"http://ns.adobe.com/camera-raw-settings/1.0/\"";
    const std::pair<std::string, std::string> cases[] = {
        {"<rdf:Description " + crs + " crs:Exposure2012=\"+1.00\"/>",
         "<rdf:Description " + crs + " crs:AlreadyApplied=\"True\" crs:Exposure2012=\"+1.00\"/>"},
        {"<rdf:Description " + crs + " crs:AlreadyApplied='False'/>",
         "<rdf:Description " + crs + " crs:AlreadyApplied='True'/>"},
        {"<rdf:Description " + crs + "><crs:AlreadyApplied>False</crs:AlreadyApplied></rdf:Description>",
         "<rdf:Description " + crs + "><crs:AlreadyApplied>True</crs:AlreadyApplied></rdf:Description>"},
        {"<rdf:Description xmp:Rating=\"5\"/>", "<rdf:Description xmp:Rating=\"5\"/>"}};
    for (const auto& [in, out] : cases) EXPECT_EQ(lumarex_cli::XmpOfCorrected(in), out) << in;
}

// JPEG holds a packet of at most 64 KB: a larger one goes without its
// padding, or, when that is not enough, not at all, and the note says so;
// a TIFF keeps it whole either way.
TEST_F(Xmp, APacketTooLargeForJpegIsShortenedOrLeftOutWithANote) {
    const std::string padded = Packet(70000), full = Packet(0, std::string(70000, 'x'));
    int k = 0;
    for (const auto& [packet, kept] : {std::pair{padded, Upright(Packet(0))}, std::pair{full, std::string()}}) {
        // A TIFF carries the packet in (the image library's writer wrote it),
        // and holds it whole.
        const fs::path tif = dir / ("big" + std::to_string(k) + ".tif"), jpg = dir / ("big" + std::to_string(k++) + ".jpg");
        OIIO::ImageSpec spec(32, 24, 3, OIIO::TypeDesc::UINT8);
        if (k == 1) spec.attribute("oiio:ColorSpace", "sRGB");
        WriteImage(tif, spec, std::vector<uint16_t>(32 * 24 * 3, 30000));
        std::string error;
        // The ISO speed too, which the image library's TIFF writer left out;
        // into its EXIF directory, where it made one (an sRGB photo's).
        ASSERT_TRUE(lumarex_cli::CompleteTiff(tif.string(), packet, 800, error)) << error;
        EXPECT_EQ(Read(tif), Upright(packet));
        EXPECT_EQ(TiffExifValue(Slurp(tif), 0x8827), k == 1 ? 800 : -1);
        const Result r = Run("correct " + Quoted(tif) + " -o " + Quoted(jpg));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Read(jpg), kept);
        EXPECT_EQ(Has(r.out, "KB) not kept: JPEG holds 64 KB in one segment"), kept.empty()) << r.out;
    }
}

// A JPEG's extended XMP (a packet too large for one segment, split by its
// writer) is read whatever the order of its parts, goes into a JPEG output
// beside its packet, and into others merged with it. Parts that disagree,
// overlap or are missing give no extension; another packet's parts are
// passed over. Raw settings only the extension holds are marked applied in
// the packet.
TEST_F(Xmp, AJpegsExtendedXmpGoesWithItsPacket) {
    const std::string guid = "0123456789ABCDEF0123456789ABCDEF";
    const std::string extension = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF><rdf:Description "
                                  "xmlns:crs=\"http://ns.adobe.com/camera-raw-settings/1.0/\" crs:Mask=\"" +
                                  std::string(150000, 'm') + "\"/></rdf:RDF></x:xmpmeta>";
    const std::string packet = Packet(0, "<xmpNote:HasExtendedXMP>" + guid + "</xmpNote:HasExtendedXMP>");
    // A part as a writer stores it: signature, GUID, whole size, offset.
    const auto part = [&](const std::string& id, size_t total, size_t offset, size_t n) {
        std::string body = std::string("http://ns.adobe.com/xmp/extension/\0", 35) + id;
        for (const size_t v : {total, offset})
            for (int shift = 24; shift >= 0; shift -= 8) body += char((v >> shift) & 0xFF);
        body += extension.substr(offset, n);
        const size_t length = body.size() + 2;
        return std::string{char(0xFF), char(0xE1), char(length >> 8), char(length & 0xFF)} + body;
    };
    const size_t total = extension.size(), third = 60000;
    const auto jpeg = [&](const std::string& parts, const char* name) {
        const fs::path p = JpegWith(packet, name);
        std::string file = Slurp(p);
        file.insert(file.find("<?xpacket end=\"w\"?>") + 19, parts);
        OIIO::Filesystem::write_text_file(p.string(), file);
        return p;
    };
    const std::string first = part(guid, total, 0, third), second = part(guid, total, third, third),
                      last = part(guid, total, 2 * third, total - 2 * third);
    const fs::path in = jpeg(last + part("FEDCBA9876543210FEDCBA9876543210", 9, 0, 9) + first + second, "ext.jpg");
    const lumarex_cli::Picture pic = ReadPicture(in);
    EXPECT_EQ(pic.xmpExtension, extension);
    EXPECT_TRUE(Has(pic.xmp, "xmlns:crs=\"http://ns.adobe.com/camera-raw-settings/1.0/\" crs:AlreadyApplied=\"True\""));

    const Result toJpeg = Run("correct " + Quoted(in) + " -o " + Quoted(dir / "out.jpg"));
    ASSERT_EQ(toJpeg.status, 0) << toJpeg.err;
    const lumarex_cli::Picture out = ReadPicture(dir / "out.jpg");
    EXPECT_EQ(out.xmpExtension, extension);
    EXPECT_EQ(out.xmp, pic.xmp);
    for (const char* name : {"out.png", "out.tif", "out.webp", "out.heic"}) {
        const Result r = Run("correct " + Quoted(in) + " -o " + Quoted(dir / name));
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        const std::string merged = Read(dir / name);
        EXPECT_TRUE(Has(merged, "crs:Mask=\"mmm") && Has(merged, "crs:AlreadyApplied=\"True\"") &&
                    !Has(merged, "HasExtendedXMP"))
            << name;
        EXPECT_EQ(Count(merged, "</rdf:RDF>"), 1u) << name;
    }

    for (const std::string& parts : {first + second, first + second + part(guid, total, third, total - third),
                                     first + second + part(guid, total + 1, 2 * third, total - 2 * third)})
        EXPECT_EQ(ReadPicture(jpeg(parts, "broken.jpg")).xmpExtension, "");
}

// A packet too large for a JPEG's segment (a TIFF's, with the list of
// documents a photo program keeps) is split as a photo program splits it:
// its largest property into the extended XMP, named by its MD5 digest, the
// rating and keywords left in the packet; merged again on the way to PNG,
// every property is there once. The digest is MD5's.
TEST_F(Xmp, APacketTooLargeForJpegIsSplitIntoItsExtendedXmp) {
    EXPECT_EQ(lumarex_cli::Md5Hex(""), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(lumarex_cli::Md5Hex("The quick brown fox jumps over the lazy dog"), "9E107D9D372BB6826BD81D3542A419D6");
    EXPECT_EQ(lumarex_cli::Md5Hex(std::string(1000, 'a')), "CABE45DCC9AE5B66BA86600CCA6B8BA8");
    std::string ancestors;
    for (int k = 0; k < 3000; ++k) ancestors += "<rdf:li>xmp.did:" + std::to_string(1000000 + k) + "</rdf:li>";
    const std::string packet =
        Packet(0, "<photoshop:DocumentAncestors xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\"><rdf:Bag>" +
                      ancestors + "</rdf:Bag></photoshop:DocumentAncestors>");
    const fs::path tif = dir / "big.tif", jpg = dir / "big.jpg", png = dir / "big.png";
    WriteImage(tif, OIIO::ImageSpec(32, 24, 3, OIIO::TypeDesc::UINT8), std::vector<uint16_t>(32 * 24 * 3, 30000));
    std::string error;
    ASSERT_TRUE(lumarex_cli::CompleteTiff(tif.string(), packet, 0, error)) << error;
    for (const auto& [from, to] : {std::pair{tif, jpg}, std::pair{jpg, png}}) {
        const Result r = Run("correct " + Quoted(from) + " -o " + Quoted(to));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(Has(r.out, "not kept")) << r.out;
    }
    const lumarex_cli::Picture split = ReadPicture(jpg);
    EXPECT_LE(split.xmp.size(), lumarex_cli::kJpegXmpMax);
    EXPECT_TRUE(Has(split.xmp, "xmp:Rating=\"4\"") && Has(split.xmp, "Places|Europe|Lisbon"));
    EXPECT_EQ(lumarex_cli::ExtendedXmpGuid(split.xmp), lumarex_cli::Md5Hex(split.xmpExtension));
    EXPECT_TRUE(Has(split.xmpExtension, "xmlns:photoshop=") && Has(split.xmpExtension, "xmp.did:1002999"));
    const std::string merged = Read(png);
    EXPECT_EQ(Count(merged, "<rdf:li>xmp.did:"), 3000u);
    EXPECT_EQ(Count(merged, "Places|Europe|Lisbon"), 1u);
    EXPECT_FALSE(Has(merged, "HasExtendedXMP"));
}

// Merged, the extension's descriptions join the packet's and the packet
// names no extension, in either form; an extension whose namespaces are
// declared outside its descriptions is not merged.
TEST(MergedXmp, JoinsTheDescriptionsOrRefuses) {
    const std::string rdf = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"r\">";
    const std::string ext = rdf + "<rdf:Description xmlns:crs=\"c\" crs:Mask=\"m\"/></rdf:RDF></x:xmpmeta>";
    const std::string want = rdf + "<rdf:Description xmp:Rating=\"3\"/><rdf:Description xmlns:crs=\"c\" "
                                   "crs:Mask=\"m\"/></rdf:RDF></x:xmpmeta>";
    EXPECT_EQ(lumarex_cli::MergedXmp(rdf + "<rdf:Description xmp:Rating=\"3\" xmpNote:HasExtendedXMP=\"" +
                                         std::string(32, 'A') + "\"/></rdf:RDF></x:xmpmeta>",
                                     ext),
              want);
    EXPECT_EQ(lumarex_cli::MergedXmp(rdf + "<rdf:Description xmp:Rating=\"3\"><xmpNote:HasExtendedXMP>" +
                                         std::string(32, 'A') +
                                         "</xmpNote:HasExtendedXMP></rdf:Description></rdf:RDF></x:xmpmeta>",
                                     ext),
              rdf + "<rdf:Description xmp:Rating=\"3\"></rdf:Description><rdf:Description xmlns:crs=\"c\" "
                    "crs:Mask=\"m\"/></rdf:RDF></x:xmpmeta>");
    EXPECT_EQ(lumarex_cli::MergedXmp(want, "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"r\" "
                                           "xmlns:crs=\"c\"><rdf:Description crs:Mask=\"m\"/></rdf:RDF></x:xmpmeta>"),
              "");
    EXPECT_EQ(lumarex_cli::MergedXmp(want, "not XMP"), "");
}

// IPTC fields become the XMP properties that their readers look for: text
// escaped and made UTF-8, lists split, dates in XMP's form; nothing the
// packet states, or whose namespace it binds to another prefix, is added.
TEST(XmpWithIptc, StatesWhatThePacketDoesNot) {
    using lumarex_cli::XmpWithIptc;
    const std::vector<lumarex_cli::IptcField> fields = {
        {"Keywords", "Lisbon; ; tram;Alfama & river "},
        {"IPTC:Caption", "Tram 28 <climbing>\x01 to the castle"},
        {"IPTC:Creator", "Ana Sousa; Rui Lima"},
        {"IPTC:City", "S\xe3o Br\xe1s"},  // Latin-1, as older writers stored it
        {"IPTC:Headline", "Caf\xc3\xa9"},   // UTF-8 already
        {"IPTC:DateCreated", "20240517"},
        {"IPTC:TimeCreated", "140309+0100"},
        {"IPTC:Contact", "not a simple property"},
    };
    const std::string made = XmpWithIptc("", fields);
    for (const char* want : {
             "<dc:subject><rdf:Bag><rdf:li>Lisbon</rdf:li><rdf:li>tram</rdf:li><rdf:li>Alfama &amp; river</rdf:li>"
             "</rdf:Bag></dc:subject>",
             "<dc:description><rdf:Alt><rdf:li xml:lang=\"x-default\">Tram 28 &lt;climbing&gt; to the castle"
             "</rdf:li></rdf:Alt></dc:description>",
             "<dc:creator><rdf:Seq><rdf:li>Ana Sousa</rdf:li><rdf:li>Rui Lima</rdf:li></rdf:Seq></dc:creator>",
             "<photoshop:City>S\xc3\xa3o Br\xc3\xa1s</photoshop:City>",
             "<photoshop:Headline>Caf\xc3\xa9</photoshop:Headline>",
             "<photoshop:DateCreated>2024-05-17T14:03:09+01:00</photoshop:DateCreated>",
             "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"", "<?xpacket end=\"w\"?>"})
        EXPECT_NE(made.find(want), std::string::npos) << want << " in\n" << made;
    EXPECT_EQ(made.find("Iptc4xmpCore"), std::string::npos) << "a namespace is declared only where used";
    EXPECT_EQ(made.find("Contact"), std::string::npos);
    EXPECT_EQ(XmpWithIptc(made, fields), made) << "a second pass adds nothing";
    // A date alone, and a malformed one.
    EXPECT_NE(XmpWithIptc("", {{"IPTC:DateCreated", "20240517"}, {"IPTC:TimeCreated", "14:03"}})
                  .find("<photoshop:DateCreated>2024-05-17</photoshop:DateCreated>"),
              std::string::npos);
    EXPECT_EQ(XmpWithIptc("", {{"IPTC:DateCreated", "2024-05-17"}, {"Keywords", " ; "}, {"IPTC:Urgency", "high"}}),
              "");

    // Into a photo's own packet: its keywords (an element), city (an
    // attribute) and photoshop namespace (bound as "ps") stay its own.
    const std::string own = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"r\"><rdf:Description "
                            "xmlns:ps=\"http://ns.adobe.com/photoshop/1.0/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                            "ps:City=\"Porto\"><dc:subject><rdf:Bag><rdf:li>mine</rdf:li></rdf:Bag></dc:subject>"
                            "</rdf:Description></rdf:RDF></x:xmpmeta>";
    const std::string joined = XmpWithIptc(own, fields);
    const size_t end = own.rfind("</rdf:RDF>");
    ASSERT_GT(joined.size(), own.size());
    EXPECT_EQ(joined.substr(0, end), own.substr(0, end));
    EXPECT_EQ(joined.substr(joined.size() - (own.size() - end)), own.substr(end));
    const std::string added = joined.substr(end, joined.size() - own.size());
    EXPECT_EQ(added.find("<rdf:Description rdf:about=\"\"\n    xmlns:dc="), 2u) << added;
    EXPECT_NE(added.find("<dc:creator>"), std::string::npos);
    EXPECT_NE(added.find("<dc:description>"), std::string::npos);
    for (const char* kept : {"dc:subject", "photoshop", "Lisbon"})
        EXPECT_EQ(added.find(kept), std::string::npos) << kept;
    // Nothing to add to, or nothing to add.
    EXPECT_EQ(XmpWithIptc("not XMP", fields), "not XMP");
    EXPECT_EQ(XmpWithIptc(own, {}), own);
}

// From a JPEG whose IPTC block holds keywords, a caption and a city: PNG,
// WebP and HEIC carry them in their XMP (once, whatever the passes), TIFF
// in its own IPTC block.
TEST_F(Xmp, IptcFieldsGoIntoTheXmpOfFormatsWithoutAnIptcBlock) {
    OIIO::ImageSpec spec(32, 24, 3, OIIO::TypeDesc::UINT8);
    spec.attribute("Keywords", "Lisbon; tram");
    spec.attribute("IPTC:Caption", "Tram 28");
    spec.attribute("IPTC:City", "Lisboa");
    const fs::path in = dir / "in.jpg";
    WriteImage(in, spec, std::vector<uint16_t>(32 * 24 * 3, 30000));
    ASSERT_TRUE(Read(in).empty()) << "the input has no XMP of its own";
    for (const char* name : {"a.png", "b.webp", "c.heic", "d.tif", "e.webp"}) {
        const fs::path out = dir / name;
        // The last from the first WebP: its packet comes back as it went.
        const fs::path from = std::string(name) == "e.webp" ? dir / "b.webp" : in;
        ASSERT_EQ(Run("auto " + Quoted(from) + " -o " + Quoted(out) + " --quiet").status, 0) << name;
        const std::string xmp = Read(out);
        if (out.extension() == ".tif") {
            EXPECT_EQ(xmp, "");
            EXPECT_EQ(SpecOf(out).get_string_attribute("IPTC:City"), "Lisboa");
            continue;
        }
        EXPECT_EQ(Count(xmp, "<rdf:li>Lisbon</rdf:li><rdf:li>tram</rdf:li>"), 1u) << name << "\n" << xmp;
        EXPECT_EQ(Count(xmp, "<photoshop:City>Lisboa</photoshop:City>"), 1u) << name;
        EXPECT_EQ(Count(xmp, ">Tram 28</rdf:li>"), 1u) << name;
    }
    EXPECT_EQ(Read(dir / "e.webp"), Read(dir / "b.webp"));
}

// The JPEG stream puts the packet after the JFIF header and the EXIF,
// leaves out an XMP segment of the encoder's own, takes its file in pieces
// of any size, and refuses one not written in order.
TEST_F(Xmp, JpegStreamPlacesThePacketWhateverThePieces) {
    const std::string app0 = std::string("\xFF\xE0\x00\x06JFIF", 8), exif = std::string("\xFF\xE1\x00\x08" "Exif\0\0", 10);
    const std::string own = std::string("\xFF\xE1\x00\x22http://ns.adobe.com/xap/1.0/\0", 33) + "old";
    const std::string dqt = std::string("\xFF\xDB\x00\x03\x01", 5), data = std::string("\xFF\xDA\x00\x02\x12\x34\xFF\xD9", 8);
    const std::string encoder = std::string("\xFF\xD8", 2) + app0 + exif + own + dqt + data;
    const std::string segment = std::string("\xFF\xE1\x00\x22http://ns.adobe.com/xap/1.0/\0", 33) + "new";
    const std::string want = std::string("\xFF\xD8", 2) + app0 + exif + segment + dqt + data;
    for (const size_t piece : {size_t(1), size_t(3), size_t(7), encoder.size()}) {
        OIIO::Filesystem::IOVecOutput sink;
        lumarex_cli::JpegXmpStream stream("new", "", sink);
        for (size_t at = 0; at < encoder.size(); at += piece) stream.write(encoder.data() + at, std::min(piece, encoder.size() - at));
        EXPECT_TRUE(stream.Complete()) << piece;
        EXPECT_EQ(std::string(sink.buffer().begin(), sink.buffer().end()), want) << piece;
    }
    OIIO::Filesystem::IOVecOutput sink;
    lumarex_cli::JpegXmpStream stream("new", "", sink);
    stream.write(encoder.data(), 10);
    stream.pwrite(encoder.data() + 20, 5, 20);
    EXPECT_FALSE(stream.Complete());
}

// Other places the packet comes from: a PNG's compressed iTXt chunk, after
// the pixels; a camera raw file's TIFF tag, and where it has none, its
// sidecar, named either way (a file beside it that is not XMP is not one).
TEST_F(Xmp, ReadsACompressedPngChunkAfterThePixelsAndARawFilesTagOrSidecar) {
    const float neutral[3] = {0.5f, 1.0f, 0.7f}, scene[4][3] = {{0.2f, 0.2f, 0.2f}, {0.5f, 0.2f, 0.1f},
                                                               {0.1f, 0.4f, 0.1f}, {0.1f, 0.1f, 0.5f}};
    const auto raw = [&](const char* name) {
        const fs::path p = dir / name;
        EXPECT_TRUE(lumarex_test::WriteMosaicDng(p.string(), 32, 24, 1, neutral, scene, 0));
        return p;
    };
    const fs::path dng = raw("shot.dng");
    std::string error;
    ASSERT_TRUE(lumarex_cli::CompleteTiff(dng.string(), Packet(), 0, error)) << error;
    const std::string sidecar = Packet(0, "<xmp:Label>Red</xmp:Label>");
    OIIO::Filesystem::write_text_file((dir / "shot.xmp").string(), sidecar);
    EXPECT_EQ(Read(dng), Upright(Packet()));
    const fs::path bare = raw("bare.dng");
    EXPECT_EQ(Read(bare), "");
    OIIO::Filesystem::write_text_file((dir / "bare.xmp").string(), "a note, not XMP");
    OIIO::Filesystem::write_text_file((dir / "bare.dng.xmp").string(), sidecar);
    EXPECT_EQ(Read(bare), Upright(sidecar));
    OIIO::Filesystem::write_text_file((dir / "bare.XMP").string(), Packet());
    fs::remove(dir / "bare.xmp");
    EXPECT_EQ(Read(bare), Upright(Packet()));

    const fs::path png = MakeInput("in.png");
    std::string file = Slurp(png);
    const std::string packet = Packet(100);
    std::vector<uint8_t> packed(compressBound(uLong(packet.size())));
    uLongf n = uLongf(packed.size());
    ASSERT_EQ(compress(packed.data(), &n, reinterpret_cast<const Bytef*>(packet.data()), uLong(packet.size())), Z_OK);
    std::string data = std::string("XML:com.adobe.xmp\0\1\0\0\0", 22) + std::string(packed.begin(), packed.begin() + n);
    std::string chunk = "iTXt" + data;
    const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(chunk.data()), uInt(chunk.size()));
    const auto be32 = [](uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
    file.insert(file.size() - 12, be32(uint32_t(data.size())) + chunk + be32(uint32_t(crc)));
    OIIO::Filesystem::write_text_file(png.string(), file);
    EXPECT_EQ(Read(png), Upright(packet));
}

}  // namespace
}  // namespace lumarex_test
