#include "services/catalogue.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "binding/output_dispatcher.h"
#include "foundation/uds_codec.h"
#include "services/all_interfaces.h"
#include "services/extension_factory.h"
#include "someip/deserializer.h"
#include "someip/serializer.h"

// Every generated interface held against the catalogue tables, which are written out below by
// hand (not read from the description): names, methods, record layouts and lengths, Start
// parameters and the shape of the application error.

namespace {

using namespace orlak::services::diag;
using kem::dm::types::MetaInfo;

enum class Kind { did, short_routine, full_routine };
constexpr Kind did = Kind::did;
constexpr Kind short_routine = Kind::short_routine;
constexpr Kind full_routine = Kind::full_routine;

// A record as a table cell: members, UDS length, SOME/IP length (given for DIDs only).
// layout null: no such method; "void": a method without record.
struct Record_row {
    const char* layout = nullptr;
    const char* uds = nullptr;
    const char* someip = nullptr;
};

struct Row {
    std::uint16_t id;
    const char* name;
    Kind kind;
    const char* start_parameters;  // routines: "-" for none
    const char* request;           // routines: UDS request length
    Record_row output;             // Read (DID) or Start (routine)
    Record_row request_results;
    Record_row stop;
};

// In list order: the DID table, then the RID table.
// clang-format off
const Row rows[] = {
    {0x1183, "DataIdentifier_DNHSomeipDataBusServiceNotAvailable", did, nullptr, nullptr, {"u8, bytes", "1 + n", "5 + n"}, {}, {}},
    {0x1184, "DataIdentifier_DNHSomeipDataBusServiceErrorValueReceived", did, nullptr, nullptr, {"u8, bytes", "1 + n", "5 + n"}, {}, {}},
    {0x1185, "DataIdentifier_DNHSomeipDataBusServiceImplausible", did, nullptr, nullptr, {"u8, bytes", "1 + n", "5 + n"}, {}, {}},
    {0x493E, "DataIdentifier_IntrusionDetectionSystemWhitelistEvent", did, nullptr, nullptr, {"u32 x2", "8", "8"}, {}, {}},
    {0x493F, "DataIdentifier_IntrusionDetectionSystemTimingBlacklistEvent", did, nullptr, nullptr, {"u32 x2", "8", "8"}, {}, {}},
    {0x2D92, "DataIdentifier_IntrusionDetectionSystemTimingAbnormalEvent", did, nullptr, nullptr, {"u32 x2", "8", "8"}, {}, {}},
    {0x2D93, "DataIdentifier_IntrusionDetectionSystemStatisticsAbnormalEvent", did, nullptr, nullptr, {"u32 x2", "8", "8"}, {}, {}},
    {0x4940, "DataIdentifier_IntrusionDetectionSystemTimingStatusInactivitySensor", did, nullptr, nullptr, {"u32 x2", "8", "8"}, {}, {}},
    {0x4941, "DataIdentifier_IntrusionDetectionSystemTimingEthernetAnomalies", did, nullptr, nullptr, {"u32 x2", "8", "8"}, {}, {}},
    {0x4942, "DataIdentifier_IntrusionDetectionSystemTimingQUOR1Anomalies", did, nullptr, nullptr, {"u32 x2", "8", "8"}, {}, {}},
    {0x15E0, "DataIdentifier_IntrusionDetectionSystemDisableTime", did, nullptr, nullptr, {"u32", "4", "4"}, {}, {}},
    {0x4943, "DataIdentifier_IntrusionDetectionSystemNumberOfAlerts", did, nullptr, nullptr, {"u32", "4", "4"}, {}, {}},
    {0x4944, "DataIdentifier_IntrusionDetectionSystemGetLog", did, nullptr, nullptr, {"u8[64]", "64", "68"}, {}, {}},
    {0x1176, "DataIdentifier_IDSSomeipDataBusServiceNotAvailable", did, nullptr, nullptr, {"u8, bytes", "1 + n", "5 + n"}, {}, {}},
    {0x1177, "DataIdentifier_IDSSomeipDataBusServiceErrorValueReceived", did, nullptr, nullptr, {"u8, bytes", "1 + n", "5 + n"}, {}, {}},
    {0x1178, "DataIdentifier_IDSSomeipDataBusServiceImplausible", did, nullptr, nullptr, {"u8, bytes", "1 + n", "5 + n"}, {}, {}},
    {0x1179, "DataIdentifier_IDSTazuHttpDataBusServiceNotAvailable", did, nullptr, nullptr, {"u8, bytes", "1 + n", "5 + n"}, {}, {}},
    {0x117A, "DataIdentifier_IDSTazuHttpDataBusServiceImplausible", did, nullptr, nullptr, {"u8, bytes", "1 + n", "5 + n"}, {}, {}},
    {0x117B, "DataIdentifier_IDSTazuHttpDataBusServiceServiceInccorectMissingEncoding", did, nullptr, nullptr, {"u8, bytes", "1 + n", "5 + n"}, {}, {}},
    {0x49BE, "DataIdentifier_StorageActiveDriverWarnings", did, nullptr, nullptr, {"u8 x2, bytes", "2 + n", "6 + n"}, {}, {}},
    {0x49BF, "DataIdentifier_StorageFilteredDriverWarnings", did, nullptr, nullptr, {"u8 x2, bytes", "2 + n", "6 + n"}, {}, {}},
    {0x49C0, "DataIdentifier_StorageDriverWarningsHistory", did, nullptr, nullptr, {"u8 x2, bytes", "2 + n", "6 + n"}, {}, {}},
    {0x0809, "DataIdentifier_PncCauseFailureInstallationRootCertificateContainer", did, nullptr, nullptr, {"u8 x5", "5", "5"}, {}, {}},
    {0x080A, "DataIdentifier_PncCauseFailureCommunicationErrorReportingUnvalidatableRootCertificates", did, nullptr, nullptr, {"u8 x6", "6", "6"}, {}, {}},
    {0x080B, "DataIdentifier_PncCauseFailureInstallationVehicleCertificate", did, nullptr, nullptr, {"u8 x9", "9", "9"}, {}, {}},
    {0x080C, "DataIdentifier_PncCauseFailureCommunicationErrorInstallationVehicleCertificate", did, nullptr, nullptr, {"u8 x7", "7", "7"}, {}, {}},
    {0x080D, "DataIdentifier_PncCauseFailureCommunicationErrorRevocationVehicleCertificate", did, nullptr, nullptr, {"u8", "1", "1"}, {}, {}},
    {0x0808, "DataIdentifier_PncCauseFailureInstallationContract", did, nullptr, nullptr, {"u8 x6", "6", "6"}, {}, {}},
    {0x0807, "DataIdentifier_PncCauseFailureCommunicationErrorRevocationContract", did, nullptr, nullptr, {"u8", "1", "1"}, {}, {}},
    {0x15F0, "DataIdentifier_PncCauseFailureCommunicationErrorDiagnosticPush", did, nullptr, nullptr, {"u8 x4", "4", "4"}, {}, {}},
    {0x0806, "DataIdentifier_PncCauseFailureInstallationRootCertificateContainerLifetime", did, nullptr, nullptr, {"u16 x5", "10", "10"}, {}, {}},
    {0x0805, "DataIdentifier_PncCauseFailureCommunicationErrorReportingUnvalidatableRootCertificatesLifetime", did, nullptr, nullptr, {"u16 x6", "12", "12"}, {}, {}},
    {0x0804, "DataIdentifier_PncCauseFailureInstallationVehicleCertificateLifetime", did, nullptr, nullptr, {"u16 x9", "18", "18"}, {}, {}},
    {0x0803, "DataIdentifier_PncCauseFailureCommunicationErrorInstallationVehicleCertificateLifetime", did, nullptr, nullptr, {"u16 x7", "14", "14"}, {}, {}},
    {0x0802, "DataIdentifier_PncCauseFailureCommunicationErrorRevocationVehicleCertificateLifetime", did, nullptr, nullptr, {"u16", "2", "2"}, {}, {}},
    {0x080E, "DataIdentifier_PncCauseFailureInstallationContractLifetime", did, nullptr, nullptr, {"u16 x6", "12", "12"}, {}, {}},
    {0x0801, "DataIdentifier_PncCauseFailureCommunicationErrorRevocationContractLifetime", did, nullptr, nullptr, {"u16", "2", "2"}, {}, {}},
    {0x15F1, "DataIdentifier_PncCauseFailureCommunicationErrorDiagnosticPushLifetime", did, nullptr, nullptr, {"u16 x4", "8", "8"}, {}, {}},
    {0x14A0, "DataIdentifier_PositioningStatusInputs", did, nullptr, nullptr, {"u8 x11", "11", "11"}, {}, {}},
    {0x14A1, "DataIdentifier_PositioningStatusOutputs", did, nullptr, nullptr, {"u8 x3", "3", "3"}, {}, {}},
    {0x14A2, "DataIdentifier_PositioningMMPos", did, nullptr, nullptr, {"u8[5] x2, u8[3], u8, u8[3], u8 x6, u16", "25", "41"}, {}, {}},
    {0x14A3, "DataIdentifier_PositioningStatusSystem", did, nullptr, nullptr, {"u8 x4, u16 x4, u8 x2", "14", "14"}, {}, {}},
    {0x1190, "DataIdentifier_BDPSomeipDataBusServiceNotAvailable", did, nullptr, nullptr, {"u8, bytes", "1 + n", "5 + n"}, {}, {}},
    {0x1191, "DataIdentifier_BDPSomeipDataBusServiceErrorValueReceived", did, nullptr, nullptr, {"u8, bytes", "1 + n", "5 + n"}, {}, {}},
    {0x1192, "DataIdentifier_BDPSomeipDataBusServiceImplausible", did, nullptr, nullptr, {"u8, bytes", "1 + n", "5 + n"}, {}, {}},
    {0x0401, "DataIdentifier_NumberOfECUResets", did, nullptr, nullptr, {"u8, bytes", "1 + n", "5 + n"}, {}, {}},
    {0x17F0, "DataIdentifier_EMMCStatisticsAdaptive", did, nullptr, nullptr, {"u8, bytes", "1 + n", "5 + n"}, {}, {}},
    {0x17F2, "DataIdentifier_EMMCBudgetExceedance", did, nullptr, nullptr, {"u8", "1", "1"}, {}, {}},
    {0x0102, "DataIdentifier_BasicSettingsStatus", did, nullptr, nullptr, {"u8", "1", "1"}, {}, {}},
    {0x0261, "DataIdentifier_OBDDrivingCycleSetOnce", did, nullptr, nullptr, {"u8", "1", "1"}, {}, {}},
    {0x0447, "DataIdentifier_Timezone", did, nullptr, nullptr, {"u8[9]", "9", "13"}, {}, {}},
    {0x1186, "DataIdentifier_TMSPSomeipDataBusServiceNotAvailable", did, nullptr, nullptr, {"u8, bytes", "1 + n", "5 + n"}, {}, {}},
    {0x1187, "DataIdentifier_TMSPSomeipDataBusServiceErrorValueReceived", did, nullptr, nullptr, {"u8, bytes", "1 + n", "5 + n"}, {}, {}},
    {0x1188, "DataIdentifier_TMSPSomeipDataBusServiceImplausible", did, nullptr, nullptr, {"u8, bytes", "1 + n", "5 + n"}, {}, {}},
    {0xF186, "DataIdentifier_ActiveDiagnosticSession", did, nullptr, nullptr, {"u8", "1", "1"}, {}, {}},
    {0xF187, "DataIdentifier_OvoSparePartNumber", did, nullptr, nullptr, {"u8[11]", "11", "15"}, {}, {}},
    {0xF189, "DataIdentifier_OvoApplicationSoftwareVersionNumber", did, nullptr, nullptr, {"u32", "4", "4"}, {}, {}},
    {0xF190, "DataIdentifier_VehicleIdentificationNumber", did, nullptr, nullptr, {"u8[17]", "17", "21"}, {}, {}},
    {0xF195, "DataIdentifier_SystemSupplierECUSoftwareVersionNumber", did, nullptr, nullptr, {"u8[48]", "48", "52"}, {}, {}},
    {0xF197, "DataIdentifier_OvoSystemNameOrEngineType", did, nullptr, nullptr, {"u8[13]", "13", "17"}, {}, {}},
    {0xF1AA, "DataIdentifier_OvoWorkshopSystemName", did, nullptr, nullptr, {"u8[5]", "5", "9"}, {}, {}},
    {0xF1B4, "DataIdentifier_TechnicalSpecificationsVersion", did, nullptr, nullptr, {"u8 x26", "26", "26"}, {}, {}},
    {0xF1AF, "DataIdentifier_AUTOSARStandardApplicationSoftwareIdentification", did, nullptr, nullptr, {"bytes", "n", "4 + n"}, {}, {}},
    {0x0189, "DataIdentifier_OvoLogicalBlockDowngradeProtectionVersions", did, nullptr, nullptr, {"u8, u8[8] x52", "417", "625"}, {}, {}},
    {0x0407, "DataIdentifier_OvoLogicalSoftwareBlockCounterOfProgrammingAttempts", did, nullptr, nullptr, {"u16 x52", "104", "104"}, {}, {}},
    {0x040F, "DataIdentifier_OvoLogicalSoftwareBlockLockValue", did, nullptr, nullptr, {"u16 x52", "104", "104"}, {}, {}},
    {0x0448, "DataIdentifier_ProgrammingPreconditions", did, nullptr, nullptr, {"u8, bytes", "1 + n", "5 + n"}, {}, {}},
    {0xF15B, "DataIdentifier_FingerprintAndProgrammingDateOfLogicalSoftwareBlocks", did, nullptr, nullptr, {"u8[10] x52", "520", "728"}, {}, {}},
    {0xF1AB, "DataIdentifier_OvoLogicalSoftwareBlockVersion", did, nullptr, nullptr, {"u32 x52", "208", "208"}, {}, {}},
    {0xF1DF, "DataIdentifier_ECUProgrammingInformation", did, nullptr, nullptr, {"u8", "1", "1"}, {}, {}},
    {0xF1B6, "DataIdentifier_SystemIdentification", did, nullptr, nullptr, {"u16 x2", "4", "4"}, {}, {}},
    {0x01A7, "DataIdentifier_SoftwareVendor", did, nullptr, nullptr, {"u8, u16", "3", "3"}, {}, {}},
    {0x01AF, "DataIdentifier_SoftwareCompositionListIdentification", did, nullptr, nullptr, {"u8, u16, bytes", "3 + n", "7 + n"}, {}, {}},
    {0x0441, "DataIdentifier_SoftwareCompositionListNr", did, nullptr, nullptr, {"u8[8] x15", "120", "180"}, {}, {}},
    {0xF19E, "DataIdentifier_ASAMODXFileIdentifier", did, nullptr, nullptr, {"bytes", "n", "4 + n"}, {}, {}},
    {0xF1A2, "DataIdentifier_ASAMODXFileVersion", did, nullptr, nullptr, {"u8[6]", "6", "10"}, {}, {}},
    {0x0174, "DataIdentifier_UnlockStatusOfECUOfProtectionOfVehicleDiagnosis", did, nullptr, nullptr, {"u8 x4", "4", "4"}, {}, {}},
    {0x3C0E, "DataIdentifier_ModeOfProtectionOfVehicleDiagnosis", did, nullptr, nullptr, {"u8", "1", "1"}, {}, {}},
    {0xF1D5, "DataIdentifier_FDSProjectData", did, nullptr, nullptr, {"u8, u32, u8 x2", "7", "7"}, {}, {}},
    {0x0411, "DataIdentifier_DataBlockDescription", did, nullptr, nullptr, {"u8, u16, u8[12], u32", "19", "23"}, {}, {}},
    {0xF1B1, "DataIdentifier_OvoApplicationDataSetIdentification", did, nullptr, nullptr, {"u16, u32, u8 x7", "13", "13"}, {}, {}},
    {0xF1B3, "DataIdentifier_OvoDataSetName", did, nullptr, nullptr, {"u8, u16, u8[12]", "15", "19"}, {}, {}},
    {0xF17C, "DataIdentifier_OvoKELDAIdentificationString", did, nullptr, nullptr, {"u8[7], u8[8], u32 x2", "23", "31"}, {}, {}},
    {0x0318, "RoutineService_DriverNotificationHandlerWarnIDTrigger", full_routine, "u16, u8, u16, u8, u16, u8", "9", {"u8", "1"}, {"u8", "1"}, {"u8", "1"}},
    {0x0301, "RoutineService_HvlmResetChargingProfiles", full_routine, "u8[3]", "3", {"u8", "1"}, {"u8", "1"}, {"u8", "1"}},
    {0x0300, "RoutineService_HvlmResetChargingStatistics", full_routine, "u8[3]", "3", {"u8", "1"}, {"u8", "1"}, {"u8", "1"}},
    {0x03E7, "RoutineService_ResetToFactorySetting", full_routine, "u8[3]", "3", {"u8", "1"}, {"u8", "1"}, {"void"}},
    {0x0366, "RoutineService_ResetOfAllAdaptions", full_routine, "u8[3]", "3", {"u8", "1"}, {"u8", "1"}, {"void"}},
    {0x045A, "RoutineService_ClearUserDefinedDTCInformation", full_routine, "u8, u8, u8", "3", {"u8", "1"}, {"u8", "1"}, {"void"}},
    {0x0203, "RoutineService_CheckProgrammingPreconditions", short_routine, "-", "0", {"bytes", "n"}, {}, {}},
    {0xFF00, "RoutineService_EraseMemory", short_routine, "u8, u8", "2", {"u8", "1"}, {}, {}},
    {0x0202, "RoutineService_CheckMemory", short_routine, "bytes", "n", {"u8", "1"}, {}, {}},
    {0xFF01, "RoutineService_CheckProgrammingDependencies", short_routine, "-", "0", {"u8", "1"}, {}, {}},
    {0x0544, "RoutineService_VerifyPartialSoftwareChecksum", short_routine, "u16, bytes", "2 + n", {"u8", "1"}, {}, {}},
    {0x065E, "RoutineService_ClearDowngradeProtectionData", full_routine, "-", "0", {"u8", "1"}, {"u8", "1"}, {"u8", "1"}},
    {0xC010, "RoutineService_StartUpdate", full_routine, "u8, u8, bytes", "2 + n", {"u8", "1"}, {"u8 x4, bytes", "4 + n"}, {"void"}},
    {0xC00E, "RoutineService_CheckUpdate", full_routine, "u8", "1", {"u8", "1"}, {"u8 x2", "2"}, {"void"}},
    {0x0253, "RoutineService_CalculateIntegrityValidationData", short_routine, "u8, u8", "2", {"u8 x2, bytes", "2 + n"}, {}, {}},
    {0x0254, "RoutineService_CalculateIndividualHashValue", short_routine, "u8, u8, u16", "4", {"u8 x3, u16, bytes", "5 + n"}, {}, {}},
    {0x029A, "RoutineService_CalculateModuleHashValue", full_routine, "u8, u8", "2", {"u8 x3", "3"}, {"u8 x5, bytes", "5 + n"}, {"void"}},
    {0xC004, "RoutineService_UnlockProtectionOfVehicleDiagnosis", short_routine, "bytes", "n", {"u8 x2", "2"}, {}, {}},
    {0xC005, "RoutineService_LockProtectionOfVehicleDiagnosis", short_routine, "-", "0", {"u8 x2", "2"}, {}, {}},
    {0xC007, "RoutineService_ResetProtectionOfVehicleDiagnosis", short_routine, "bytes", "n", {"u8 x2", "2"}, {}, {}},
    {0xC008, "RoutineService_RequestDataOfProtectionOfVehicleDiagnosis", short_routine, "u8", "1", {"u8, bytes", "1 + n"}, {}, {}},
    {0xC009, "RoutineService_RequestLoggingDataOfProtectionOfVehicleDiagnosis", short_routine, "u8", "1", {"u8, u16, bytes", "3 + n"}, {}, {}},
    {0xC011, "RoutineService_BeginOfWritingOfSecuredDataOfProtectionOfVehicleDiagnosis", short_routine, "bytes", "n", {"u8 x2", "2"}, {}, {}},
    {0xC012, "RoutineService_EndOfWritingSecuredDataOfProtectionOfVehicleDiagnosis", short_routine, "u8", "1", {"u8 x2", "2"}, {}, {}},
    {0x06A9, "RoutineService_RequestConfigurationOfProtectionOfVehicleDiagnosis", short_routine, "u8", "1", {"u8 x2, u16, bytes", "4 + n"}, {}, {}},
    {0x0F02, "RoutineService_CalculateConfigurationStateFingerprintOfProtectionOfVehicleDiagnosis", short_routine, "u8, u16, bytes", "3 + n", {"u8 x2, u8[32]", "34"}, {}, {}},
};
// clang-format on
constexpr std::size_t did_rows = 83;

const Row& row_of(std::uint16_t id, bool routine) {
    for (std::size_t i = routine ? did_rows : 0; i < std::size(rows); ++i) {
        if (rows[i].id == id) {
            return rows[i];
        }
    }
    throw std::logic_error("identifier not in the expected tables");
}

std::string namespace_of(const Row& row) {
    char text[8];
    std::snprintf(text, sizeof text, "%c_%04x", row.kind == did ? 'd' : 'r', row.id);
    return text;
}

// ---- the table notation --------------------------------------------------------------------

// A member or parameter type: 'b' u8, 'w' u16, 'l' u32, 'a' u8[size], 'v' bytes.
struct Field {
    char type;
    std::size_t size = 0;
    bool operator==(const Field& other) const { return type == other.type && size == other.size; }
};
using Layout = std::vector<Field>;

// "u8[5] x2, u8[3], u16" -> its fields; "-" -> none.
Layout parse_layout(std::string text) {
    Layout layout;
    if (text == "-") {
        return layout;
    }
    text += ",";
    for (std::size_t start = 0, comma; (comma = text.find(',', start)) != std::string::npos;
         start = comma + 1) {
        std::string item = text.substr(start, comma - start);
        item.erase(0, item.find_first_not_of(' '));
        std::size_t count = 1;
        if (auto x = item.find(" x"); x != std::string::npos) {
            count = std::stoul(item.substr(x + 2));
            item.erase(x);
        }
        Field field{'?'};
        if (item.rfind("u8[", 0) == 0) {
            field = {'a', std::stoul(item.substr(3))};
        } else {
            field.type = item == "u8" ? 'b' : item == "u16" ? 'w' : item == "u32" ? 'l' : 'v';
            EXPECT_TRUE(field.type != 'v' || item == "bytes") << item;
        }
        layout.insert(layout.end(), count, field);
    }
    return layout;
}

// "1 + n", "n" or "25" evaluated for a byte sequence of n bytes.
std::size_t parse_length(const std::string& text, std::size_t n) {
    if (text == "n") {
        return n;
    }
    return text.find('+') == std::string::npos ? std::stoul(text) : std::stoul(text) + n;
}

// ---- what the generated code declares ------------------------------------------------------

template <class T>
Field field_of() {
    if constexpr (std::is_same_v<T, std::uint8_t>) {
        return {'b'};
    } else if constexpr (std::is_same_v<T, std::uint16_t>) {
        return {'w'};
    } else if constexpr (std::is_same_v<T, std::uint32_t>) {
        return {'l'};
    } else if constexpr (std::is_same_v<T, std::vector<std::uint8_t>>) {
        return {'v'};
    } else {
        static_assert(std::is_same_v<T, std::array<std::uint8_t, std::tuple_size<T>::value>>);
        return {'a', std::tuple_size<T>::value};
    }
}

template <class... Ts>
Layout layout_of(std::tuple<Ts...>*) {
    return {field_of<Ts>()...};
}

// Records the member types and fills every byte sequence with n bytes.
struct Layout_visitor {
    std::size_t n;
    Layout layout;
    template <class T>
    void operator()(T& member) {
        layout.push_back(field_of<T>());
        if constexpr (std::is_same_v<T, std::vector<std::uint8_t>>) {
            member.assign(n, 0xA5);
        }
    }
};

struct Someip_writer {
    std::vector<std::uint8_t>& out;
    template <class T>
    void operator()(T& member) {
        kem::com::someip::serialization::serialize_dispatch(out, member, {});
    }
};

template <class Record>
std::vector<std::uint8_t> someip_bytes(Record& record) {
    std::vector<std::uint8_t> out;
    Someip_writer writer{out};
    record.visit(writer);
    return out;
}

// Checks one record against its table cell, for byte sequences of 0 and 3 bytes.
template <class Record>
void expect_record(const Record_row& expected) {
    for (std::size_t n : {0, 3}) {
        Record record{};
        Layout_visitor shape{n, {}};
        record.visit(shape);
        EXPECT_EQ(shape.layout, parse_layout(expected.layout)) << expected.layout;

        std::vector<std::uint8_t> uds;
        kem::dm::foundation::extension::Serialize(uds).serialize(record);
        EXPECT_EQ(uds.size(), parse_length(expected.uds, n)) << expected.layout;

        const std::vector<std::uint8_t> wire = someip_bytes(record);
        if (expected.someip != nullptr) {
            EXPECT_EQ(wire.size(), parse_length(expected.someip, n)) << expected.layout;
        }
        // What the SOME/IP side writes, the response reader takes back member by member.
        Record read_back{};
        kem::com::someip::serialization::Deserializer in(wire);
        kem::com::cpp_binding::proxy::Method_output_deserialization_dispatcher<
            Record, false>::deserialize(in, read_back);
        EXPECT_EQ(someip_bytes(read_back), wire);
    }
}

template <class T, class = void>
struct has_output : std::false_type {};
template <class T>
struct has_output<T, std::void_t<typename T::Output>> : std::true_type {};

#define DIAG_HAS_METHOD(M)               \
    template <class S, class = void>     \
    struct has_##M : std::false_type {}; \
    template <class S>                   \
    struct has_##M<S, std::void_t<typename S::M>> : std::true_type {};
DIAG_HAS_METHOD(Read)
DIAG_HAS_METHOD(Start)
DIAG_HAS_METHOD(Stop)
DIAG_HAS_METHOD(RequestResults)
#undef DIAG_HAS_METHOD

// The signature a method must have: MetaInfo first, scalars by value, sequences by reference.
template <class T>
using parameter_t = std::conditional_t<std::is_integral_v<T>, T, const T&>;
template <class R, class Inputs>
struct signature_of;
template <class R, class... Ts>
struct signature_of<R, std::tuple<Ts...>> {
    using type = R(const MetaInfo&, parameter_t<Ts>...);
};

template <class L>
struct As_gtest_types;
template <class... Ts>
struct As_gtest_types<Type_list<Ts...>> {
    using type = ::testing::Types<Ts...>;
};

struct Interface_names {
    template <class S>
    static std::string GetName(int) {
        return namespace_of(row_of(S::identifier, has_Start<S>::value));
    }
};

template <class S>
class Catalogue_interface : public ::testing::Test {
  protected:
    static constexpr bool is_routine = has_Start<S>::value;
    const Row& row = row_of(S::identifier, is_routine);
};
TYPED_TEST_SUITE(Catalogue_interface, As_gtest_types<All_interfaces>::type, Interface_names);

TYPED_TEST(Catalogue_interface, names_the_service_and_numbers_its_methods) {
    using S = TypeParam;
    const Row& row = this->row;
    EXPECT_EQ(std::string(S::service_id),
              "orlak::services::diag::" + namespace_of(row) + "::" + row.name);
    EXPECT_EQ(S::Cancel::id, 0);
    static_assert(std::is_same_v<typename S::Cancel::Signature, void(const MetaInfo&)>);
    EXPECT_FALSE(has_output<typename S::Cancel>::value);
    EXPECT_EQ(has_Read<S>::value, row.kind == did);
    EXPECT_EQ(has_Start<S>::value, row.kind != did);
    EXPECT_EQ(has_Stop<S>::value, row.kind == full_routine);
    EXPECT_EQ(has_RequestResults<S>::value, row.kind == full_routine);
    EXPECT_EQ(S::method_count, row.kind == full_routine ? 4 : 2);
    if constexpr (has_Read<S>::value) {
        EXPECT_EQ(S::Read::id, 1);
    }
    if constexpr (has_Start<S>::value) {
        EXPECT_EQ(S::Start::id, row.kind == full_routine ? 2 : 1);
    }
    if constexpr (has_RequestResults<S>::value) {
        EXPECT_EQ(S::RequestResults::id, 1);
        EXPECT_EQ(S::Stop::id, 3);
    }
}

TYPED_TEST(Catalogue_interface, records_have_the_table_layouts) {
    using S = TypeParam;
    const Row& row = this->row;
    if constexpr (has_Read<S>::value) {
        expect_record<typename S::Read::Output>(row.output);
        static_assert(
            std::is_same_v<typename S::Read::Signature, typename S::Read::Output(const MetaInfo&)>);
    }
    if constexpr (has_Start<S>::value) {
        expect_record<typename S::Start::Output>(row.output);
    }
    if constexpr (has_RequestResults<S>::value) {
        expect_record<typename S::RequestResults::Output>(row.request_results);
        using Stop = typename S::Stop;
        if constexpr (has_output<Stop>::value) {
            expect_record<typename Stop::Output>(row.stop);
            static_assert(
                std::is_same_v<typename Stop::Signature, typename Stop::Output(const MetaInfo&)>);
        } else {
            EXPECT_STREQ(row.stop.layout, "void");
            static_assert(std::is_same_v<typename Stop::Signature, void(const MetaInfo&)>);
        }
    } else {
        EXPECT_EQ(row.request_results.layout, nullptr);
    }
}

TYPED_TEST(Catalogue_interface, start_takes_the_table_parameters) {
    using S = TypeParam;
    if constexpr (has_Start<S>::value) {
        using Start = typename S::Start;
        using Inputs = typename Start::Inputs;
        EXPECT_EQ(layout_of(static_cast<Inputs*>(nullptr)),
                  parse_layout(this->row.start_parameters));
        static_assert(std::is_same_v<typename Start::Signature,
                                     typename signature_of<typename Start::Output, Inputs>::type>);
        // Fixed UDS request bytes; a byte sequence adds none.
        std::size_t request = 0;
        for (const Field& f : layout_of(static_cast<Inputs*>(nullptr))) {
            request += f.type == 'a' ? f.size : f.type == 'b' ? 1 : f.type == 'w' ? 2 : 0;
        }
        EXPECT_EQ(request, parse_length(this->row.request, 0));
    }
}

TYPED_TEST(Catalogue_interface, application_error_has_its_shape) {
    using S = TypeParam;
    using Error = typename S::UDSServiceFailed;
    const bool three_codes = this->row.kind == full_routine;
    const std::vector<std::uint8_t> payload{0x11, 0x22, 0x33};

    const Error error(payload);
    EXPECT_EQ(std::string(error.what()), std::string(this->row.name) + "::UDSServiceFailed::2");
    EXPECT_EQ(error.error(), 2);
    std::vector<std::uint8_t> written;
    kem::com::someip::serialization::Serializer out(written);
    error.serialize(out);
    EXPECT_EQ(written, three_codes ? payload : std::vector<std::uint8_t>{0x11});

    // Each data-returning method maps error identifier 2, and only 2, to its own error type
    // and answers with its own code; Cancel maps nothing.
    auto expect_maps = [&](auto method, std::uint8_t code) {
        using M = decltype(method);
        EXPECT_FALSE(M::GetApplicationErrorExceptionPtr(3, payload));
        const std::exception_ptr mapped = M::GetApplicationErrorExceptionPtr(2, payload);
        ASSERT_TRUE(mapped);
        try {
            std::rethrow_exception(mapped);
        } catch (const Error& e) {
            EXPECT_EQ(M::response_code(e), code);
        } catch (...) {
            ADD_FAILURE() << "not the interface's own UDSServiceFailed";
        }
    };
    if constexpr (has_Read<S>::value) {
        expect_maps(typename S::Read{}, 0x11);
    }
    if constexpr (has_RequestResults<S>::value) {
        expect_maps(typename S::RequestResults{}, 0x11);
        expect_maps(typename S::Start{}, 0x22);
        expect_maps(typename S::Stop{}, 0x33);
    } else if constexpr (has_Start<S>::value) {
        expect_maps(typename S::Start{}, 0x11);
    }
    EXPECT_FALSE(S::Cancel::GetApplicationErrorExceptionPtr(2, payload));
}

TEST(Catalogue, tables_list_the_identifiers_in_order) {
    static_assert(std::size(did_table) == 83 && std::size(rid_table) == 26);
    static_assert(All_interfaces::size == 109);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(i < did_rows ? did_table[i] : rid_table[i - did_rows], rows[i].id) << i;
    }
}

TEST(Catalogue, factory_serves_exactly_the_identifiers_of_each_table) {
    for (std::uint16_t id : did_table) {
        auto* extension = construct_did_extension(id);
        ASSERT_NE(extension, nullptr) << id;
        delete extension;
        EXPECT_EQ(construct_rid_extension(id), nullptr) << id;
    }
    for (std::uint16_t id : rid_table) {
        auto* extension = construct_rid_extension(id);
        ASSERT_NE(extension, nullptr) << id;
        delete extension;
        EXPECT_EQ(construct_did_extension(id), nullptr) << id;
    }
    for (std::uint16_t id : {0x0000, 0xFFFF, 0x0103, 0xF17D}) {
        EXPECT_EQ(construct_did_extension(id), nullptr) << id;
        EXPECT_EQ(construct_rid_extension(id), nullptr) << id;
    }
}

TEST(Catalogue, record_0x0411_in_uds_and_someip_form) {
    d_0411::DataIdentifier_DataBlockDescription::Read::Output record{
        0x05, 0x0102, {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L'}, 0x0A0B0C0D};
    const std::vector<std::uint8_t> letters{'A', 'B', 'C', 'D', 'E', 'F',
                                            'G', 'H', 'I', 'J', 'K', 'L'};
    auto bytes = [&](std::vector<std::uint8_t> head) {
        head.insert(head.end(), letters.begin(), letters.end());
        head.insert(head.end(), {0x0A, 0x0B, 0x0C, 0x0D});
        return head;
    };
    std::vector<std::uint8_t> uds;
    kem::dm::foundation::extension::Serialize(uds).serialize(record);
    EXPECT_EQ(uds, bytes({0x05, 0x01, 0x02}));
    EXPECT_EQ(someip_bytes(record), bytes({0x05, 0x01, 0x02, 0x00, 0x00, 0x00, 0x0C}));
}

}  // namespace
