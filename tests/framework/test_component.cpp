#include "framework/application.h"
#include "framework/component.h"
#include "framework/exception.h"
#include "framework/propertyfiler.h"
#include "support/recorders.h"

#include <QPointer>

#include <gtest/gtest.h>

#include <stdexcept>

using framework::TComponent;

namespace {

class Recording : public TComponent
{
public:
    using TComponent::TComponent;
    int port = 0;
    QStringList log;
    void setPort(int value)
    {
        port = value;
        log << (isLoading() ? QStringLiteral("set while loading") : QStringLiteral("set"));
    }

protected:
    void Loaded() override
    {
        TComponent::Loaded();
        log << QStringLiteral("loaded %1").arg(port);
    }
};

} // namespace

TEST(Component, StoredValuesAreAppliedBeforeTheAfterLoadingNotification)
{
    Recording component;
    component.loadStored([&] { component.setPort(49217); });
    EXPECT_EQ(component.log, (QStringList { "set while loading", "loaded 49217" }));
    EXPECT_FALSE(component.isLoading());
    component.setPort(1);
    EXPECT_EQ(component.log.last(), "set");
}

TEST(Component, OwnerFreesOwnedComponents)
{
    auto owner = std::make_unique<TComponent>();
    QPointer<Recording> owned = new Recording(owner.get());
    EXPECT_EQ(owned->owner(), owner.get());
    owner.reset();
    EXPECT_TRUE(owned.isNull());
}

TEST(ErrorReporting, GuardHandsEscapingExceptionsToTheHandlerWithTheirSender)
{
    testsupport::ExceptionRecorder recorder;
    TComponent sender;
    framework::guard(&sender, [] { throw framework::Exception("Host Lookup Canceled"); });
    framework::guard(&sender, [] { throw std::runtime_error("plain"); });
    framework::guard(nullptr, [] { throw 42; });
    framework::guard(&sender, [] {});
    ASSERT_EQ(recorder.entries().size(), 3u);
    EXPECT_EQ(recorder.entries()[0].rawSender, &sender);
    EXPECT_EQ(recorder.messages(), (QStringList { "Host Lookup Canceled", "plain", "Unknown exception" }));
    EXPECT_EQ(recorder.entries()[2].rawSender, nullptr);
}

TEST(ErrorReporting, AThrowingReporterDoesNotEscapeTheGuard)
{
    auto previous = framework::Application::setExceptionHandler(
        [](QObject *, const QString &) { throw std::runtime_error("reporter failed"); });
    EXPECT_NO_THROW(framework::guard(nullptr, [] { throw framework::Exception("x"); }));
    framework::Application::setExceptionHandler(std::move(previous));
}

TEST(ErrorReporting, ShowMessageAndBeepReachTheirHooks)
{
    testsupport::MessageRecorder recorder;
    framework::ShowMessage("Call ended");
    framework::Beep();
    framework::Beep();
    EXPECT_EQ(recorder.messages, QStringList { "Call ended" });
    EXPECT_EQ(recorder.beeps, 2);
}

TEST(ErrorReporting, ExceptionKeepsItsTextExactly)
{
    const framework::Exception e(QStringLiteral("Unknown Error No. "));
    EXPECT_EQ(e.message(), "Unknown Error No. ");
    EXPECT_STREQ(e.what(), "Unknown Error No. ");
    EXPECT_EQ(framework::ERangeError().message(), "Range check error");
}

namespace {

class WithBinaryProperty : public TComponent
{
public:
    using TComponent::TComponent;
    QByteArray format = "abc";
    bool hasData = true;
    void DefineProperties(framework::TFiler &filer) override
    {
        filer.DefineBinaryProperty(
            "Format",
            [this](framework::MemoryStream &stream) {
                format = QByteArray(int(stream.size()), '\0');
                stream.read(format.data(), stream.size());
            },
            [this](framework::MemoryStream &stream) { stream.write(format); }, hasData);
    }
};

} // namespace

TEST(PropertyFiler, BinaryPropertiesRoundTripThroughTheirStoredForm)
{
    WithBinaryProperty source;
    source.format = QByteArray("\x81\0\0\0xyz", 7);
    const QByteArray block = framework::encodeStoredProperties(framework::writeStoredProperties(source));
    WithBinaryProperty target;
    target.loadStored([&] { framework::readStoredProperties(target, framework::decodeStoredProperties(block)); });
    EXPECT_EQ(target.format, source.format);
}

TEST(PropertyFiler, PropertiesWithoutDataAreNotStoredAndMalformedBlocksReadAsNothing)
{
    WithBinaryProperty source;
    source.hasData = false;
    EXPECT_TRUE(framework::writeStoredProperties(source).isEmpty());
    EXPECT_TRUE(framework::decodeStoredProperties(QByteArray("\xff\xff\xff\x7f", 4)).isEmpty());
    WithBinaryProperty target;
    framework::readStoredProperties(target, { { "Other", "zzz" } });
    EXPECT_EQ(target.format, "abc");
}
