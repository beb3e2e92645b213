// Object properties: parsing MSysObjects.LvProp values (layout in properties.h).
#include "jet/read/properties.h"

#include <algorithm>

#include "jet/base/byte_order.h"
#include "jet/base/text.h"
#include "jet/read/table_def.h"

namespace jet {
namespace {

constexpr uint16_t kNamesChunk = 0x80;
constexpr uint16_t kObjectChunk = 0x00;
constexpr uint16_t kColumnChunk = 0x01;

Status Damaged(const std::string& detail) {
  return Status::Error(ErrorKind::kDamaged, "property value: " + detail);
}

std::string Name(const uint8_t* bytes, size_t size, Version version, uint16_t code_page) {
  std::string name;
  if (IsJet3(version)) {
    if (!DecodeCodePageText(bytes, size, code_page, &name).ok()) name.assign(bytes, bytes + size);
  } else {
    DecodeJet4Text(bytes, size, &name);
  }
  return name;
}

// The entries of one value chunk's body, after its target name.
void ParseEntries(const uint8_t* p, size_t size, const std::vector<std::string>& names,
                  PropertyBlock* block) {
  constexpr size_t kEntryHeader = 8;
  size_t at = 0;
  while (at + kEntryHeader <= size) {
    const size_t length = LoadLe16(p + at);
    const size_t value_length = LoadLe16(p + at + 6);
    if (length < kEntryHeader || at + length > size || kEntryHeader + value_length > length) return;
    const uint16_t name_position = LoadLe16(p + at + 4);
    if (name_position < names.size()) {
      Property property;
      property.name = names[name_position];
      property.ddl = p[at + 2];
      property.type_code = p[at + 3];
      property.data.assign(p + at + kEntryHeader, p + at + kEntryHeader + value_length);
      block->properties.push_back(std::move(property));
    }
    at += length;
  }
}

}  // namespace

Status ParseProperties(const std::vector<uint8_t>& blob, Version version, uint16_t code_page,
                       std::vector<PropertyBlock>* blocks, std::vector<std::string>* listed) {
  blocks->clear();
  if (blob.size() < 4 || !(std::equal(blob.begin(), blob.begin() + 4, "KKD") ||
                           std::equal(blob.begin(), blob.begin() + 4, "MR2")))
    return Damaged("no KKD or MR2 mark");
  const uint8_t* p = blob.data();
  std::vector<std::string> names;
  size_t at = 4;
  while (at + 6 <= blob.size()) {
    const size_t length = LoadLe32(p + at);
    const uint16_t type = LoadLe16(p + at + 4);
    if (length < 6 || length > blob.size() - at) return Damaged("a chunk runs past the end");
    const uint8_t* body = p + at + 6;
    const size_t body_size = length - 6;
    if (type == kNamesChunk) {
      for (size_t n = 0; n + 2 <= body_size;) {
        const size_t name_length = LoadLe16(body + n);
        if (n + 2 + name_length > body_size) return Damaged("a property name runs past its chunk");
        names.push_back(Name(body + n + 2, name_length, version, code_page));
        n += 2 + name_length;
      }
    } else if (type == kObjectChunk || type == kColumnChunk) {
      if (body_size < 6) return Damaged("a value chunk is cut short");
      const size_t target_length = LoadLe16(body + 4);
      if (6 + target_length > body_size) return Damaged("a target name runs past its chunk");
      PropertyBlock block;
      block.object = type == kObjectChunk;
      block.target = Name(body + 6, target_length, version, code_page);
      ParseEntries(body + 6 + target_length, body_size - 6 - target_length, names, &block);
      blocks->push_back(std::move(block));
    }
    at += length;
  }
  if (listed != nullptr) *listed = std::move(names);
  return Status::Ok();
}

namespace {

Status EncodeName(const std::string& name, Version version, uint16_t code_page, std::vector<uint8_t>* out) {
  std::vector<uint8_t> bytes;
  if (IsJet3(version)) {
    Status s = EncodeCodePageText(name, code_page, &bytes);
    if (!s.ok()) return Status::Error(ErrorKind::kInvalidArgument, "property name \"" + name + "\": " + s.detail());
  } else {
    bytes = Utf8ToUtf16Le(name);
  }
  if (bytes.size() > 0xFFFF) return Status::Error(ErrorKind::kInvalidArgument, "a property name is too long");
  const size_t at = out->size();
  out->resize(at + 2);
  StoreLe16(out->data() + at, uint16_t(bytes.size()));
  out->insert(out->end(), bytes.begin(), bytes.end());
  return Status::Ok();
}

// Appends a chunk of `type` with `body`, its 6-byte head first.
void AppendChunk(uint16_t type, const std::vector<uint8_t>& body, std::vector<uint8_t>* blob) {
  const size_t at = blob->size();
  blob->resize(at + 6);
  StoreLe32(blob->data() + at, uint32_t(body.size() + 6));
  StoreLe16(blob->data() + at + 4, type);
  blob->insert(blob->end(), body.begin(), body.end());
}

}  // namespace

Status EncodeProperties(const std::vector<PropertyBlock>& blocks, const std::vector<std::string>& listed,
                        Version version, uint16_t code_page, std::vector<uint8_t>* blob) {
  blob->assign({uint8_t(IsJet3(version) ? 'K' : 'M'), uint8_t(IsJet3(version) ? 'K' : 'R'),
                uint8_t(IsJet3(version) ? 'D' : '2'), 0});
  std::vector<std::string> names = listed;
  for (const PropertyBlock& block : blocks)
    for (const Property& property : block.properties)
      if (std::find(names.begin(), names.end(), property.name) == names.end()) names.push_back(property.name);
  std::vector<uint8_t> body;
  for (const std::string& name : names) {
    Status s = EncodeName(name, version, code_page, &body);
    if (!s.ok()) return s;
  }
  AppendChunk(kNamesChunk, body, blob);
  for (const PropertyBlock& block : blocks) {
    body.assign(4, 0);
    std::vector<uint8_t> target;
    Status s = EncodeName(block.target, version, code_page, &target);
    if (!s.ok()) return s;
    body.insert(body.end(), target.begin(), target.end());
    for (const Property& property : block.properties) {
      if (property.data.size() > 0xFFFF - 8)
        return Status::Error(ErrorKind::kInvalidArgument, "property \"" + property.name + "\" is too long");
      const size_t at = body.size();
      body.resize(at + 8);
      StoreLe16(body.data() + at, uint16_t(8 + property.data.size()));
      body[at + 2] = property.ddl;
      body[at + 3] = property.type_code;
      StoreLe16(body.data() + at + 4,
                uint16_t(std::find(names.begin(), names.end(), property.name) - names.begin()));
      StoreLe16(body.data() + at + 6, uint16_t(property.data.size()));
      body.insert(body.end(), property.data.begin(), property.data.end());
    }
    StoreLe32(body.data(), uint32_t(4 + target.size()));  // the block's head: this field and the target name
    AppendChunk(block.object ? kObjectChunk : kColumnChunk, body, blob);
  }
  return Status::Ok();
}

bool IsColumnRequired(const std::vector<PropertyBlock>& blocks, const std::string& column) {
  for (const PropertyBlock& block : blocks) {
    if (!EqualsIgnoringAsciiCase(block.target, column)) continue;
    for (const Property& property : block.properties)
      if (property.name == "Required" && property.type_code == uint8_t(ColumnType::kBoolean))
        return !property.data.empty() && property.data[0] != 0;
  }
  return false;
}

}  // namespace jet
