// The component's published face: About, constructed values, declared defaults, enumerations, setters.
#include "LogTestSupport.h"

#include <QMetaEnum>
#include <QMetaProperty>

TEST(LogComponent, AboutIsFixedText) {
    TznComponent component;
    const QString about = component.About();
    EXPECT_FALSE(about.isEmpty());
    component.SetAbout("something else");
    EXPECT_EQ(component.About(), about);
    EXPECT_TRUE(component.setProperty("About", "via property"));
    EXPECT_EQ(component.property("About").toString(), about);
}

TEST(LogComponent, ConstructedValuesAndDeclaredDefaults) {
    TznLog log;
    EXPECT_FALSE(log.Active());
    EXPECT_EQ(log.BufferSize(), 65536u);
    EXPECT_TRUE(log.DateFormat().isEmpty());
    EXPECT_TRUE(log.FileName().isEmpty());
    EXPECT_EQ(log.LogBy(), lbNone);
    EXPECT_EQ(log.LogMode(), lmAppend);
    EXPECT_TRUE(log.LogPath().isEmpty());
    EXPECT_EQ(log.Options(), loAppendDate | loAppendLineBreak | loAppendTime);
    EXPECT_EQ(log.TimeType(), lttTimeStamp);

    // The declared default of Options is not the constructed value, so a form keeping it still stores it.
    EXPECT_EQ(TznLogOptions(TznLog::znLogDefaultOptions), loAppendDate | loAppendTime);
    EXPECT_NE(TznLogOptions(TznLog::znLogDefaultOptions), log.Options());

    // The declared defaults are discoverable through the meta-object, and agree with the constants.
    const QMetaObject* meta = log.metaObject();
    const auto info = [meta](const char* name) {
        const int index = meta->indexOfClassInfo(name);
        return index < 0 ? QString() : QString::fromLatin1(meta->classInfo(index).value());
    };
    EXPECT_EQ(info("DefaultBufferSize"), QString::number(TznLog::znLogDefaultBufferSize));
    EXPECT_EQ(info("DefaultLogBy"), "lbNone");
    EXPECT_EQ(info("DefaultLogMode"), "lmAppend");
    EXPECT_EQ(info("DefaultTimeType"), "lttTimeStamp");
    const QMetaEnum options = QMetaEnum::fromType<TznLogOptions>();
    EXPECT_EQ(options.keysToValue(info("DefaultOptions").toLatin1().constData()),
              static_cast<int>(TznLog::znLogDefaultOptions));
}

TEST(LogComponent, PropertiesSettableByNameAsAFormWould) {
    static_assert(sizeof(TznLogBy) == 1 && sizeof(TznLogMode) == 1 && sizeof(TznLogTimeType) == 1);
    TznLog log;
    const QMetaObject* meta = log.metaObject();
    const QMetaProperty logBy = meta->property(meta->indexOfProperty("LogBy"));
    ASSERT_TRUE(logBy.isValid());
    EXPECT_TRUE(logBy.isEnumType());
    EXPECT_TRUE(log.setProperty("LogBy", QVariant::fromValue(lbWeek)));
    EXPECT_EQ(log.LogBy(), lbWeek);
    EXPECT_TRUE(log.setProperty("Options", QVariant::fromValue(TznLogOptions(loImmediateFlush))));
    EXPECT_EQ(log.Options(), TznLogOptions(loImmediateFlush));
    EXPECT_TRUE(log.setProperty("BufferSize", 100u));
    EXPECT_EQ(log.BufferSize(), 100u);
}
