#include "BrandMark.h"

namespace ow {

namespace {

// Our brand mark: a mauve rounded square (#7C3AED to #AF92FD) with a white key cap and
// two sparkles. Drawn with QPainter on a 120 × 120 ARGB32 image at 11811 dots per metre,
// saved as PNG (8-bit RGBA, not interlaced), Qt's iCCP chunk swapped for an sRGB chunk
// (perceptual intent), then Base64-encoded. resources/brand-mark.png holds the same bytes.
constexpr char kMarkBase64[] =
    "iVBORw0KGgoAAAANSUhEUgAAAHgAAAB4CAYAAAA5ZDbSAAAAAXNSR0IArs4c6QAAAAlwSFlzAAAu"
    "IwAALiMBeKU/dgAAEWBJREFUeJztnW10HNV5x393Zne1rGS9GNtQELbsIgS2sSDBNsWAMRSal9Yk"
    "OTZpckrSNiUkkPKh50A49EPMh4QCpzmty0sop00hSXPALiFAQpIesB1ARsaH1gZhG1MMtgFjhGwL"
    "SZal0d5+mJndeZ/Z3dmV5J3/Ae3snbnPffntvfeZe++MIVGiRNNXIm6D//qdEYGgE1iFYAnQBWK+"
    "ELQAzQjShcStqQtLZoQ1TLhy6oznb0s4bDns+8UTlovC4nnaEg5btuBxYBDBMWAfsEcIdgKbEOy9"
    "7ra0JEbFBvihm0e6EXwNuA5Bu7tSREilUE+Q/eIdRPA4iEevuy21gxhUMeAf3TSyHMHdwEpbYTwL"
    "kkCObktsEfDdtbeleqlAZQN+8NsjnULwA2CN1VIC2WmrIsgI2IjgjrW3pvZShkoG/OC3hjMI7gJx"
    "C5DyrGCr5QRyIVIFkDUE64Hb196aGqcElQT4gRuHZwnBRmClNbcJZEe86kAGwRZgzdpbU/1EVGTA"
    "D9w4vAT4JYIOe4YSyDWG/A6weu2tqdeIICXKRQ98c/gzSHqADiQU/HhZ+IO0OvfSdRp3PP1ASmeY"
    "25YrngRpS8Q7nr8tGZIvn3jWAoXF87QlHbYi5sGIYHx0AFs33Kt9hggKbcH33zB8PoKtAhptMVy/"
    "uqQl17glDwGXhLXkQMD33zA8C3gF6IgGK4FcY8j7gGVBY7JvF33f3wxnpGSj0SVE7HaT7toar2W2"
    "oGWOqGZ3PR/YsOFeLY2P/MdgyV3ASicYZ9kSyP6Q5y1WmLdQCbAVC+QrgH/AR56A7/vGUCfIW/zA"
    "eIUlkN3x5i0SzFssauF43bLhXq0TD3kClpIfAClrKgnkgHgekGedJWhq0/+f1V51yCkk38dDLsD/"
    "8tdDy4E1zsSd5UggO65xQF64oli1Cy9R7PGqA3nthnu0ZTjkbsGSu/0Sd5Yjgey4xvjTepqgvatY"
    "te3nKrTOEfZ41YF8Dw7ZAK//q6FuYGVQ4hZ7tgQTyMWyLL7c3W4WX1YMqyLklY/fo3Vb07XnRPK1"
    "4IIkkMNsnf6HCvMWuQHPXaRw+nzhjhc/5Out6RZysv7rQwK4LrwgCWQ/W6kMXLxaxU/LV6ukLHes"
    "VYL85cfvGS/8khTLtZ1I2iMZSSB72vrUn6RobPWfHGxsEVx4tRrQ+px5KAtyO5KzzTBrX7IqvIIT"
    "yH72u5YpnLM0fO2m8yKFzouUakNeZX63jPwsKVybQC4J8pnnKCz90xRRddHnVM7o9JnCjAfyEvPY"
    "+pPril7BCWTz8Mwuhcv/PGVfkAiREHDp2lQ1IXeZBxbAcr71ogRykC39oGu5wqq/SNkcp6hKpWHl"
    "V1J0Lq1Kd73A/Fp0siQtOAqdQPYOUzNw8bUqy1eX1nKdEgKWfk5l6edj966bzUPrwNEsJQghAaPr"
    "MD+MYyRIc73SDDMSF2agcYEzXrgt/UTRVtR4+oGUxnqyZ7584kmQQuqrqwHxEMWwMzoV/uhLKZoC"
    "vOVS1XmRwhmdgt6nJji0r/hj9y+PXhgpLPViL6MHYEm6WJAEsjNe2xmC7lUpOpZE2uVUshpbBFde"
    "n2J/X57XX8hz9LCsBHLGtGt3/Wy/1gSyBE6bp7D4CpW5C6sD1qm5ixTmLlI4uCfPGz15+g/IsiCb"
    "cvv2CWTaThcsuEBl/gUKM2bG1xWXovYuhfYuhaEjknf7JPv79FYdGbIhq5NVlLSGSXuY5djb6cHl"
    "EHjFC7cl/fMVmocKHS/puHayZc1PQD1Lx3lwtGB/56K+WvLAoTxHfiN59bcwZ57C+VeozPVYQKim"
    "DuzOs+ulPP0Hpa1VRu6uDbm66ASyGSYRUnD4nTzPPZKn7XRB91Up5ndXF/S7fXle/32eox/qYH3r"
    "NASyKasX7VsBdQ3ZSOTIIcnmn43z5jaFFWtSNLXFOzYPHZX6bdL/5Y2MiPA6DapnQ9bVpMDxqhgm"
    "7WHWeNJiImCs8IoXbkv65ys0D/FNhry/N8+T/zjG7pcniEtvbsvzzH3jfPBW3lKWYrqBdepXz4Zs"
    "/U0CORrk8THY+oTGy09qFTljUkLv0xq9T2toY448VAxZl3U1qfiRQLZf4wEZYFfPBM/9xzhaSQ90"
    "6tLGYdNPNN7clvfPQwyQvSc6sN9TVWtMntGm0HGhyrzzVVpmKzS2CtINkeqn5ho/ASODkk8+lhzc"
    "nWf/G3mGj0oO7Mqz+afjXPWX6cjz0lLClp9rvP+mDjfQL7BWalidWsJMuZ2sGkBubBUs/0KGc1dU"
    "NllfS6UbjEdRZgvaz1VYfi28tX2CV383wYFdeXp/qXHxF6KtCW97WuO9PflgL9kIrxRyIUcS/bag"
    "2pDnf0rlmhsaSDdME7I+EgI6l6p0dKv8/j/H2dUzQdvpgq6L/fdkAezpnWDPy/mIvRzlQzbkcLIs"
    "HX0VxuTuP07z+Zuz0x6uVekMXPX1NAsvVXnlGY2hI9L32qEjku3PauCo52B/xXJNKWOyIQ8nqzqQ"
    "F1ygctlXM64x4qSQgOV/luIPzlbo+S/N97Ktv9DQTphVUhvIzn3Rxke8kJvaBNfcOEW9p7gk4PKv"
    "pjnyoWTfjrzr9Ds787y/1wiX1Ydsyn81KcYxefkXM5G75fwEjI1KtHGQeXeXUysJAULRt9ZksgIl"
    "eGgF9O76wqtVdjyvMb87Yzu343nNZ/bMMqDGPCZD2GpSDC15xkzBeZdG8C4ljA5Lho5KxkZ10JO5"
    "oiOl+WPTpxFHhyVeLcSpzqUqY8dhf1+xFe/vy3PkA1mwW0yk+i3Z7mRVAfKCCyPcCkkY+UQHO1U1"
    "NqrnMQyyEDD3PIXXNhenMl/bYhzb6oZCWFUgG3ItjcQNuaM7vG8bHZFlzQbVWtq4ntcwtZ+ncPjd"
    "PJ8M6BMjh9+1jMk1hhx9NanMMbl5TnDzNbvB6aKxUchkCRyTZ5yqV86+/ykuHkj8/JViWJxjsinP"
    "qUovI+VCDtt9ODY6iQNtmRoblWQb/cuVaxZIJG/vmHC1vppBNlScyTIjxAw5nQ0GPB26ZqfC8pxu"
    "ACQMfJDH+YqnUiDPOlMBAf0HZRmQdXlv2Ym7JQdIum8Zp7wi51lS8r7rYjzoulgBBP0HtdJbsiF/"
    "JyvMgSrV8fKrg+nXQ0fLs81ZkvYwpw0Px6shJ+hYotKxRKEhZ7XlsO9hy/rVNVVpixAD5LpWuZAF"
    "rPhSCjUFagou+WLKdl0UyKbCt+wkkMuSC0IJkBddqnKWZaP9WQsV/a09NlvOhLx7FuvThQnkOOUF"
    "IQyygMWXq3z6s+6Zv09/NsWiy2y4IkF23AdLJMLbWSrT8apreTlGPo5XQ06wYm3K9xEZIXTIc+bl"
    "6fmFxokRH/vYIXvcB8cLue4VAnl2u+DcFSrzu1XUCFP2Zy1UWHNOhnd25tnTO+F7C2XK7WQZfWuc"
    "3XU9KupGPum8NnoKoWMy2LbsYNtmE1tLrmN5T2Bga8kfHcjT/5hk+zMTehcd8ojM/jfy9DyhcWJE"
    "GtXrM+NlyH9fdJwtuY4VtSWPDkuee2ScV37lvdda5uGVX2ls+uk4J4ylS+k06lHlwfui44Bcrwqo"
    "G1/vWsLrmyfY/mv3tp/tz2r0vTBhn0WLANlnyw6xQa5rlQMZeH3LhGvDQN8LxYWLKEuNprzeNlv8"
    "SCCXrYqeoJDw0gaNCQ0mNHhpo+aCFwrZkHs1yTTiXEAo1/GqW1X2VOPoMOz73wkk+lYmKHGp0VD4"
    "A+AkkMtXZZB390zYGmRJ68mGoj0ATvmQ61aFeigf8uED5a8nmwpeTbKElzsm17Usg2xFY3JIPL8w"
    "KPUBcEfiCWR/uWDVGrIhWwtOIMcoL1iTANm1/hQ75HrWFIDsuA9OIMcmGxhHWA0gm/JwsuKFXK9y"
    "1s1kQfZxshLIcWhSIRsKeMtOArki+dRNrSGHvGUnBsj1rCkAOXw1qULIYZqO05kl5XmSIJuKtppU"
    "EeRgidq+4zMWRclzlLqpBeSQB8CpHHKIyvkHLSZbUfM8FSBHeACcqkLOhDycNhUVLc964ScNsiG3"
    "kxU35BApqv687XRR2LPBBVkqaDIheztZMUKOomxOTIuuOpXW8xpZkwjZlL+TVUvIAnIzxJRuyZms"
    "/mB31K3AdjCTANmQbcsOjkXn0MV/JF7/IERZuzkEZBt1yNP1NUpO2TdB6BUUZUNFLC81N+R6dMVp"
    "vFLIY8fzZE6Jfi+kqAS+HmE6aOx4cUfkpEE2ZF8uNC9yBlXQXR/r93+138mqwY81Vz3oB4U/temu"
    "cXnR8UP++L1p+BKOCjVwaNzfN6kRZFMeq0nxQt69dZh605u9I4B3j+Y8UTXIhny27MQHue/FoWn5"
    "opVyJSXs7h3yqZvaQ3bdB8cN+diHGtufPUa96NXfDTL4kePVhZZjqC1kz/vgOCELReG3D/dz4vjJ"
    "34zHjud57tGPUVIpG5jCRw0hm/LcFx0nZFVROfaRxs/v/OCk3qMlJTx+9yEG+zVUVXGBKXzUGLLV"
    "yRqvBuRMRn8ReN8LQzz1z4dPSshSwq9/9FHBoWzInqKHF/5Qa8jmv8Jk66IHnYnHATmTyRYCX9xw"
    "hEduf++k6q7Hjuf52Z3vs/XJo4A+6ZA9pcEXjCuMqkAeNEOsXfQxr8QrhawIlYaGXCGw78Uh7v3K"
    "PrY9c2xae9dSwvbfDPJP33iX3T3FW8FsLoeqqlgraRIgFwBbpyr3IVng9d5JJJFeI+83BZfLNnHi"
    "xPFC4LGPNDbcdYj//vHHLFzRyHmXNHHqGWlaZqdKmtaspcaO5xns1xj4YJw9vSPs7h3i6GF9lq5Q"
    "B4qgacYMSz0UK8lWp5a68X+ATz9R5rTm22a+rYD3AFf5JV4JZKGqzGhq5ZOhI9ZccPTQOD1PHKXn"
    "iaPFijIlfI7N5+2Ex2m/KWzrA3pe13jZ8vviYcssUWtbK2pKX5WYZMh7zFxbt+zsLJTFpxuppLtO"
    "Z7I05lrsgf6HrnStX1zdm+d17viu8pSSB5sRt60ZrS1kTznFu9utfXddYGntDzdF2npTAeSGbI4Z"
    "TW0Uf8L2886kpgNkgaBtZhu5xkbPPEwS5E3mZRYnS+4FDlYbcjqTpa1lNtls0fGynncmNVUhCyDX"
    "mOPU0+YUbou86gBqDvkgkrfMSwqAv/f8TInk8UhGrHktA7JQVRpzLbS1zaGxsZl0OoOaShWfZnck"
    "NRUgCwRqKkWmoYHm1mZmn3YazS2tqKrqbkXSw1btID/2zftyhSscr3CQjyLF30Vb6DfyWoF3rQiV"
    "bDZntGZh/md3ejycLds1xhffeKG2hMNWxDyE1I3dWXKEWSrJFi+SLf1EAJ9HLbm1z0V/7/mZO0Bu"
    "CWp9cbZkuy3psBUxnvEl+JcfZEs6bEXMg3RGCGt9TltVaclbbrw/t9MS6vFKf/iuLfEEsn+8qQf5"
    "NhxyAV73/MxeCRsTyNMO8oZvPZDbhkPe00aSOyRoCeRpA1mTkjvwkCfgdZtm7kWyXjoTTyD7x5tc"
    "yOu//WDuLTwUNPF7O5ItCWTvMk4hyJuR3I6PAjcgr1s1MAt4BUGHMC933iZYrLjmem23PcIeZg0K"
    "tTUdb6H8567D8yACymML2wcsu+mhxn58FLh0s27TzH5gNZLhpCV7l3ESW/IQsDoILoQABli3aeZr"
    "wJoEsn8ZJwHykIS1Nz3U+DohCuyirVq3auB84Kmku/YvY426633AtTc/3PgaERR5dd1oyUtJHK/J"
    "bMmbgWVR4UIJgKEwJl+N5IcyuU/2LGOVIGtIfghcc/PDwWOuU5G7aKfWrRroRPB9AWuT7rqq3fUG"
    "Ifj77/xb017KUNmATa27cmCZgHtArEwgR4gXHfIWBLf97b83uaYfS1HFgE3deeVAN4jrEXwZaE8g"
    "B8Tzh3wQeAzBT275cdMOYlBsgE3deeWAQIizgVVCsAToAhYgaAaaBWTqHPIYMCgEgyDeBvYg2Als"
    "EvDWLY80WUfxRIkS1bX+H5enS06icDC2AAAAAElFTkSuQmCC";

} // namespace

QByteArray orbinMarkPng()
{
    return QByteArray::fromBase64(QByteArray::fromRawData(kMarkBase64, sizeof(kMarkBase64) - 1));
}

QImage orbinMark()
{
    return QImage::fromData(orbinMarkPng(), "PNG");
}

} // namespace ow
