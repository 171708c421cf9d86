#include "zentu/chat/ChatZentu.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

// Readable failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

QJsonObject objeto(const char* json) {
    QJsonParseError e;
    const QJsonDocument d = QJsonDocument::fromJson(QByteArray(json), &e);
    EXPECT_EQ(e.error, QJsonParseError::NoError) << json;
    return d.object();
}

const Cuenta kCuenta{QStringLiteral("https://zentu.example"), QStringLiteral("t+k/n=1 ñ"), {}, {}};
const QString kToken = QStringLiteral("t%2Bk%2Fn%3D1%20%C3%B1");  // only letters and digits stay
const QDateTime kAhora = QDateTime::fromString(QStringLiteral("2030-01-01T00:00:00Z"), Qt::ISODate);

QString b64url(const QString& s) {
    return QString::fromLatin1(s.toUtf8().toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

}  // namespace

TEST(LectorDeMensajes, TablaDeMensajes) {
    struct Caso {
        const char* nombre;
        const char* json;
        bool existe;
        QString id;  // empty: not checked
        bool deZentu;
        QString texto;
        QString autor;
        QString fecha;  // ISO with ms; empty: the moment of reading
        std::optional<ChatZentu::Adjunto> adjunto;
    };
    const QString cuentaUrl = kCuenta.url;
    const std::vector<Caso> casos = {
        {"agente con id y fracción",
         R"({"text":"Hola","fromMe":true,"sender":"Agente_Ventas","messageId":"m1","timestamp":"2025-03-01T12:00:00.250Z"})",
         true, "m1", true, "Hola", "Agente Ventas", "2025-03-01T12:00:00.250Z", std::nullopt},
        {"id numérico", R"({"text":"x","id":42,"timestamp":"2025-03-01T12:00:00Z"})", true, "42", false, "x", "",
         "2025-03-01T12:00:00.000Z", std::nullopt},
        {"id de texto en id", R"({"text":"x","id":"abc"})", true, "abc", false, "x", "", "", std::nullopt},
        {"messageId no texto cae a id", R"({"text":"x","messageId":7,"id":8})", true, "8", false, "x", "", "", std::nullopt},
        {"fecha con zona", R"({"text":"x","timestamp":"2025-03-01T14:00:00+02:00"})", true, "", false, "x", "",
         "2025-03-01T12:00:00.000Z", std::nullopt},
        {"fecha vacía", R"({"text":"x","timestamp":""})", true, "", false, "x", "", "", std::nullopt},
        {"fecha mala", R"({"text":"x","timestamp":"ayer a las 3"})", true, "", false, "x", "", "", std::nullopt},
        {"fecha sin zona", R"({"text":"x","timestamp":"2025-03-01T12:00:00"})", true, "", false, "x", "", "", std::nullopt},
        {"dueño con sender", R"({"text":"yo","fromMe":false,"sender":"Ventas"})", true, "", false, "yo", "", "", std::nullopt},
        {"fromMe no booleano", R"({"text":"yo","fromMe":1,"sender":"Ventas"})", true, "", false, "yo", "", "", std::nullopt},
        {"imagen relativa", R"({"type":"image","mediaUrl":"/uploads/a.png","text":""})", true, "", false, "", "", "",
         ChatZentu::Adjunto{QUrl(cuentaUrl + "/uploads/a.png"), "Imagen", true, false}},
        {"imagen absoluta", R"({"type":"image","mediaUrl":"https://cdn.x/a.png","fileName":"foto.png"})", true, "", false,
         "", "", "", ChatZentu::Adjunto{QUrl("https://cdn.x/a.png"), "foto.png", true, false}},
        {"audio por id", R"({"type":"audio","messageId":"a b"})", true, "a b", false, "", "", "",
         ChatZentu::Adjunto{QUrl(cuentaUrl + "/api/media/a%20b?token=" + kToken), "Audio", false, true}},
        {"video sin nombre", R"({"type":"video","messageId":"v"})", true, "v", false, "", "", "",
         ChatZentu::Adjunto{QUrl(cuentaUrl + "/api/media/v?token=" + kToken), "Archivo", false, false}},
        {"documento sin nombre", R"({"type":"document","messageId":"d"})", true, "d", false, "", "", "",
         ChatZentu::Adjunto{QUrl(cuentaUrl + "/api/media/d?token=" + kToken), "Archivo", false, false}},
        {"media con marca en el texto",
         R"({"type":"document","messageId":"d","text":"Te paso [FILE:/app/my_workspace/docs/123_informe_final.pdf] ya"})",
         true, "d", false, "Te paso  ya", "", "",
         ChatZentu::Adjunto{QUrl(cuentaUrl + "/api/media/d?token=" + kToken), "informe final.pdf", false, false}},
        {"marca en texto con sello de subida",
         R"({"text":"Listo [FILE:/app/my_workspace/uploads/1712345678_3_informe.pdf]","fromMe":true,"sender":"Zentu"})",
         true, "", true, "Listo", "Zentu", "",
         ChatZentu::Adjunto{QUrl(cuentaUrl + "/api/files/view/" + b64url("uploads/1712345678_3_informe.pdf") +
                                 "?token=" + kToken),
                            "informe.pdf", false, false}},
        {"sello corto no se quita fuera de uploads", R"({"text":"[FILE: docs/1712345678_a.mp3 ]"})", true, "", false, "", "",
         "",
         ChatZentu::Adjunto{QUrl(cuentaUrl + "/api/files/view/" + b64url("docs/1712345678_a.mp3") + "?token=" + kToken),
                            "1712345678_a.mp3", false, true}},
        {"dos marcas, vale la primera", R"({"text":"a [FILE:/x/uno.txt] b [FILE:/y/dos.txt] c"})", true, "", false,
         "a  b  c", "", "",
         ChatZentu::Adjunto{QUrl(cuentaUrl + "/api/files/view/" + b64url("/x/uno.txt") + "?token=" + kToken), "uno.txt",
                            false, false}},
        {"solo una marca PNG", R"({"text":"[FILE:/app/my_workspace/Foto.PNG]"})", true, "", false, "", "", "",
         ChatZentu::Adjunto{QUrl(cuentaUrl + "/api/files/view/" + b64url("Foto.PNG") + "?token=" + kToken), "Foto.PNG",
                            true, false}},
        {"media sin dirección usa la marca", R"({"type":"image","text":"[FILE:/a/b.webp]"})", true, "", false, "", "", "",
         ChatZentu::Adjunto{QUrl(cuentaUrl + "/api/files/view/" + b64url("/a/b.webp") + "?token=" + kToken), "b.webp",
                            true, false}},
        {"media con dirección inválida y sin marca", R"({"type":"image","mediaUrl":"/a b.png","text":"hola"})", true, "",
         false, "hola", "", "", std::nullopt},
        {"texto vacío sin marca", R"({"text":"   "})", false, "", false, "", "", "", std::nullopt},
        {"sin texto", R"({"type":"text"})", false, "", false, "", "", "", std::nullopt},
        {"tipo desconocido es texto", R"({"type":"sticker","messageId":"s","text":"ok"})", true, "s", false, "ok", "", "",
         std::nullopt},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        const auto m = ChatZentu::leer(objeto(c.json), kCuenta, kAhora);
        ASSERT_EQ(m.has_value(), c.existe);
        if (!m) continue;
        if (!c.id.isEmpty()) {
            EXPECT_EQ(m->id, c.id);
        }
        EXPECT_FALSE(m->id.isEmpty());
        EXPECT_EQ(m->deZentu, c.deZentu);
        EXPECT_EQ(m->texto, c.texto);
        EXPECT_EQ(m->autor, c.autor);
        const QDateTime esperada = c.fecha.isEmpty() ? kAhora : QDateTime::fromString(c.fecha, Qt::ISODateWithMs);
        EXPECT_EQ(m->fecha, esperada) << m->fecha.toString(Qt::ISODateWithMs).toStdString();
        EXPECT_EQ(m->adjunto.has_value(), c.adjunto.has_value());
        if (m->adjunto && c.adjunto) {
            EXPECT_EQ(m->adjunto->url.toString(QUrl::FullyEncoded), c.adjunto->url.toString(QUrl::FullyEncoded));
            EXPECT_EQ(m->adjunto->nombre, c.adjunto->nombre);
            EXPECT_EQ(m->adjunto->esImagen, c.adjunto->esImagen);
            EXPECT_EQ(m->adjunto->esAudio, c.adjunto->esAudio);
        }
    }
}

// A message without any id keeps the same id on every read (so ask-and-wait never takes an old
// message for a new one), and different messages get different ids.
TEST(LectorDeMensajes, IdDeRespaldoEstable) {
    const QJsonObject a = objeto(R"({"text":"Hola","fromMe":true,"sender":"V","timestamp":"2025-03-01T12:00:00Z"})");
    const auto uno = ChatZentu::leer(a, kCuenta, kAhora);
    const auto dos = ChatZentu::leer(a, kCuenta, kAhora.addSecs(30));
    ASSERT_TRUE(uno && dos);
    EXPECT_EQ(uno->id, dos->id);
    for (const char* otro : {R"({"text":"Hola!","fromMe":true,"sender":"V","timestamp":"2025-03-01T12:00:00Z"})",
                             R"({"text":"Hola","fromMe":false,"sender":"V","timestamp":"2025-03-01T12:00:00Z"})",
                             R"({"text":"Hola","fromMe":true,"sender":"W","timestamp":"2025-03-01T12:00:00Z"})",
                             R"({"text":"Hola","fromMe":true,"sender":"V","timestamp":"2025-03-01T12:00:01Z"})"}) {
        const auto m = ChatZentu::leer(objeto(otro), kCuenta, kAhora);
        ASSERT_TRUE(m);
        EXPECT_NE(m->id, uno->id) << otro;
    }
    // An empty "messageId" or "id" is no id: the message gets the same stable id as without one,
    // and a media message gets no download address made of the empty id.
    for (const char* vacio : {R"({"text":"Hola","fromMe":true,"sender":"V","timestamp":"2025-03-01T12:00:00Z","messageId":""})",
                              R"({"text":"Hola","fromMe":true,"sender":"V","timestamp":"2025-03-01T12:00:00Z","id":""})",
                              R"({"text":"Hola","fromMe":true,"sender":"V","timestamp":"2025-03-01T12:00:00Z","messageId":"","id":""})"}) {
        const auto m = ChatZentu::leer(objeto(vacio), kCuenta, kAhora);
        ASSERT_TRUE(m);
        EXPECT_EQ(m->id, uno->id) << vacio;
    }
    const auto media = ChatZentu::leer(objeto(R"({"type":"document","messageId":"","text":"[FILE:/app/my_workspace/a.pdf]"})"),
                                       kCuenta, kAhora);
    ASSERT_TRUE(media && media->adjunto);
    EXPECT_FALSE(media->adjunto->url.path().startsWith("/api/media/")) << media->adjunto->url.toString().toStdString();
    EXPECT_FALSE(media->id.isEmpty());
}

TEST(LectorDeMensajes, Limpiar) {
    struct Caso {
        QString entrada, salida;
    };
    const std::vector<Caso> casos = {
        {"<think>razono\nmucho</think>Hola", "Hola"},
        {"<think>a</think>uno<think>b</think> dos", "uno dos"},
        {R"(previo <|message|> {"text":"Hola"} )", "Hola"},
        {R"(<|message|>{"otro":1})", R"(<|message|>{"otro":1})"},
        {R"(<|message|>{"text":5})", R"(<|message|>{"text":5})"},
        {R"(<|message|>{no es json})", R"(<|message|>{no es json})"},
        {"Mira [FILE:/a/b.pdf] y [FILE:]", "Mira Archivo: /a/b.pdf y Archivo:"},
        {"  \n hola \n ", "hola"},
        {"", ""},
    };
    for (const auto& c : casos) EXPECT_EQ(ChatZentu::limpiar(c.entrada), c.salida) << c.entrada.toStdString();
}

TEST(LectorDeMensajes, ParaVoz) {
    const QString a80(80, u'a'), a81(81, u'a');
    // 50 letters with a combining accent: 100 code units, 50 characters.
    QString acentos;
    for (int i = 0; i < 50; ++i) acentos += QStringLiteral("e\u0301");
    struct Caso {
        QString entrada, salida;
    };
    const std::vector<Caso> casos = {
        {"Aquí está [FILE:/app/my_workspace/reporte_final-2024.pdf], mira [aquí](https://x.y/z) y **esto**",
         "Aquí está «reporte final 2024», mira aquí y esto"},
        {"Ve a https://zentu.ai/panel?a=1 ahora", "Ve a el enlace ahora"},
        {"mi_variable y `código` > cita # no", "mivariable y código  cita  no"},
        {"- uno\n  • dos\n-tres", "uno\ndos\n-tres"},
        {"[FILE:informe.tar.gz]", "«informe.tar»"},
        {"[FILE:/x/notas]", "«notas»"},
        {"texto «a-b» fuera-de", "texto «a b» fuera-de"},
        {"«" + a80 + "-b»", "«" + a80 + " b»"},
        {"«" + a81 + "-b»", "«" + a81 + "-b»"},
        {"«b-" + a80 + "»", "«b " + a80 + "»"},
        {"«b-" + a81 + "»", "«b-" + a81 + "»"},
        {"«" + acentos + "-x»", "«" + acentos + " x»"},
        {"» a-b «", "» a-b «"},
        {"  **  ", ""},
    };
    for (const auto& c : casos) EXPECT_EQ(ChatZentu::paraVoz(c.entrada), c.salida) << c.entrada.toStdString();
}

TEST(LectorDeMensajes, TipoMime) {
    struct Caso {
        const char* nombre;
        const char* mime;
    };
    for (const Caso& c : std::vector<Caso>{{"informe.pdf", "application/pdf"},
                                           {"foto.PNG", "image/png"},
                                           {"notas.txt", "text/plain"},
                                           {"Makefile", "application/octet-stream"},
                                           {"raro.zzqqx", "application/octet-stream"},
                                           {".oculto", "application/octet-stream"}})
        EXPECT_EQ(ChatZentu::tipoMime(c.nombre), c.mime) << c.nombre;
}
